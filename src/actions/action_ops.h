// The queue operation of every action kind, one per source file.
#pragma once

#include "config/archeck.h"

struct Action;

int queue_rpc_action(ArCheck* check, const Action& action, ActionStatus* status);      // rpc_action.cc
int queue_dio_action(ArCheck* check, const Action& action, ActionStatus* status);      // dio_action.cc
int queue_resolve_action(ArCheck* check, const Action& action, ActionStatus* status);  // resolve_action.cc
int queue_custom_action(ArCheck* check, const Action& action, ActionStatus* status);   // custom_action.cc
int queue_email_action(ArCheck* check, const Action& action, ActionStatus* status);    // email_action.cc
int queue_sms_action(ArCheck* check, const Action& action, ActionStatus* status);      // sms_action.cc
int queue_snmp_action(ArCheck* check, const Action& action, ActionStatus* status);     // snmp_action.cc
int queue_nagios_action(ArCheck* check, const Action& action, ActionStatus* status);   // nagios_action.cc
int queue_conman_action(ArCheck* check, const Action& action, ActionStatus* status);   // conman_action.cc
int queue_cms_action(ArCheck* check, const Action& action, ActionStatus* status);      // cms_action.cc
