// Building a rule's Actions from the configuration database.
#pragma once

#include <cstdint>
#include <vector>

#include "config/load_finding.h"
#include "model/action.h"
#include "platform/xmldb.h"

struct AutoResponse;

// Builds the Action configured as number n of list in ar, its queue
// operation that of its kind (actions/action_kinds.h); false (reason
// logged and added to findings, actions unchanged) when it has no name or
// an unknown type.
bool build_action(AutoResponse* ar, ActionListId list, uint32_t n, std::vector<LoadFinding>* findings);

// The settings every action has, read under its "<list>.action<n>"; those
// of its kind are its kind's (actions/action_kinds.h). Null-terminated.
extern const char* const kActionSettings[];

// Makes cms's actions, one per path.
void build_cms_actions(CmsNodes* cms);

// Reads every action's "delay_time" once, when the rule's first ArCheck is
// made (a rule that makes none never reads them); the shared central-
// management ones once per load, for the first rule that has them.
void read_action_delays(AutoResponse* ar);

// Reads the shared central-management actions' "delay_time" from db, once.
void read_cms_delays(CmsNodes* cms, xmldb_t* db);
