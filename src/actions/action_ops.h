// The queue operation of every action kind, one per source file.
#pragma once

struct ArCheck;
struct ActionEntry;

int queue_rpc_action(ArCheck* check, ActionEntry* entry);      // rpc_action.cc
int queue_dio_action(ArCheck* check, ActionEntry* entry);      // dio_action.cc
int queue_resolve_action(ArCheck* check, ActionEntry* entry);  // resolve_action.cc
int queue_custom_action(ArCheck* check, ActionEntry* entry);   // custom_action.cc
int queue_email_action(ArCheck* check, ActionEntry* entry);    // email_action.cc
int queue_sms_action(ArCheck* check, ActionEntry* entry);      // sms_action.cc
int queue_snmp_action(ArCheck* check, ActionEntry* entry);     // snmp_action.cc
int queue_nagios_action(ArCheck* check, ActionEntry* entry);   // nagios_action.cc
int queue_conman_action(ArCheck* check, ActionEntry* entry);   // conman_action.cc
int queue_cms_action(ArCheck* check, ActionEntry* entry);      // cms_action.cc
