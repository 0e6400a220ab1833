// Placeholder until the serial login check is built.
#include "checks/modules.h"

namespace {

int stub_on_event(ArCheck* /*check*/) { return 0; }
int stub_describe_device(ArCheck*, OptionalText*, OptionalText*, OptionalText*) { return -1; }
int stub_describe_trigger(ArCheck*, OptionalText*, OptionalText*, OptionalText*) { return -1; }
int stub_subscription_key(ArCheck*, std::string*) { return -1; }

}  // namespace

const CheckOps kSerialLoginCheckOps = {stub_on_event, stub_describe_device, stub_describe_trigger, stub_subscription_key};
