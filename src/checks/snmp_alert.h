// What the SNMP alert builders of the check modules share. An alert script
// reads its arguments by position: slot 0 is the script's name, slots 1 to
// 5 are the same for every kind (snmp_alert_head), and the kind's builder
// (CheckOps::snmp_args) makes the rest, keeping each slot in place even
// when a text it asked for is missing.
#pragma once

#include <string>
#include <vector>

#include "checks/check_type.h"

class Clock;

using SnmpArgs = std::vector<std::string>;

// The outputs of a check's describing operations, as a set of bits.
enum SnmpOutput : unsigned {
  kSnmpDevice = 1u << 0,
  kSnmpLabel = 1u << 1,
  kSnmpDevRef = 1u << 2,
  kSnmpValue = 1u << 3,
  kSnmpProperty = 1u << 4,
  kSnmpTrigger = 1u << 5,
};

constexpr unsigned kSnmpDeviceOutputs = kSnmpDevice | kSnmpLabel | kSnmpDevRef;
constexpr unsigned kSnmpTriggerOutputs = kSnmpValue | kSnmpProperty | kSnmpTrigger;

// The texts a builder got; every one it asked for holds a text afterwards.
struct SnmpTexts {
  OptionalText device, label, dev_ref, value, property, trigger;
};

// Asks the check's own describing operations for the outputs in wanted;
// an absent output that is not required becomes the empty text. False when
// an operation fails or an output in required is absent.
bool snmp_describe(const ArCheck* check, unsigned wanted, unsigned required, SnmpTexts* texts);

// Slots 1 to 5: "snmp", the rule's number, the reference number, the
// event's time as a DateAndTime (the current event's, or the clock's now
// when there is none) and the state (always Triggered for rules without a
// resolve stage; -1 for none of the five states).
void snmp_alert_head(const ArCheck* check, Clock* clock, SnmpArgs* argv);
