// The reference state machine: every state change of an ArCheck, and what
// each one publishes in infod (the reference's state and current value,
// and a line under the log key).
#pragma once

#include "checks/check_type.h"
#include "model/check_event.h"

struct ArCheck;
struct Engine;

// The name published for a state ("Normal", "Triggered", ...).
const char* reference_state_name(int state);

// The one funnel of every check's decision on an update: logs the outcome's
// reason (priority 600), then triggers, resolves or refreshes with event,
// and after a trigger counts it when the check counts its triggers. A dropped event
// goes; an update without a reading is reported once (priority 400) until
// a reading comes again. 0, or -1 when a refresh could not be published (fatal).
// In a rule with a burst a trigger goes through only as the burst's count-th
// report within its window, whatever the reference's state (a check that
// triggers on every change reports while Triggered too); each report
// before it is logged ("AR <rule> ref <n>: <k> of <count> within <window> s",
// priority 600) and changes nothing else, and the trigger starts the
// count again.
int reference_apply(Engine& engine, ArCheck* check, const CheckOutcome& outcome, CheckEventPtr event);

// The condition holds: Triggered, publish, queue due trigger actions.
void reference_trigger(Engine& engine, ArCheck* check, CheckEventPtr event);

// The condition cleared: Resolving, publish, queue every resolve action,
// then on to Timeout or Normal.
void reference_resolve(Engine& engine, ArCheck* check, CheckEventPtr event);

// Still triggered with a new value: only the current value is published.
// 0 when the push was queued, -1 when not.
int reference_refresh(Engine& engine, ArCheck* check, CheckEventPtr event);

// Timeout: the reference ignores updates until the reset time-out passes.
void reference_timeout(Engine& engine, ArCheck* check);

// Normal: every action armed again.
void reference_normal(Engine& engine, ArCheck* check);

// Disabled by the rule's schedule.
void reference_disable(Engine& engine, ArCheck* check);

// A reference that took up its kept state at start publishes it as that
// state's change would (the update too, when it has one), and queues what
// fell due while the daemon was down: the due trigger actions of a
// Triggered one (not a repeat: that waits for the tick), every resolve
// action still pending of a Resolving one.
void reference_resumed(Engine& engine, ArCheck* check);

// A Triggered reference is about to leave Triggered (resolved, cancelled,
// disabled or reloaded, given as why): each trigger action it has not yet
// offered, held back by a delay, is logged once (priority 600) as dropped,
// so that an action that never ran is accounted for.
void reference_drop_delayed(const ArCheck* check, const char* why);

// Offers every due Pending trigger action to its queue operation, strictly
// in list order; ends the trigger of a rule without a resolve stage and,
// unless told not to, repeats when configured.
void reference_queue_trigger_actions(Engine& engine, ArCheck* check, bool may_repeat = true);

// Offers every Pending resolve action, then moves on to Timeout or Normal.
void reference_queue_resolve_actions(Engine& engine, ArCheck* check);

// A level's reference back in Normal or Triggered without an update (the
// end of a Timeout or a window, a reload that carried it): its latest value
// judged as if it had just arrived. Only a trigger or a resolve is applied;
// nothing happens for an event's reference or without a value.
void reference_judge_again(Engine& engine, ArCheck* check);

// When no silence covers check any longer: what one held back is settled.
// A reference still Triggered runs the trigger actions held back (those
// whose delays have passed at once, the rest at their time); one no longer
// Triggered runs the resolve actions held back of an incident whose
// trigger actions had run, with the update they fell due for, and drops
// the rest (a Disabled one drops all).
void reference_settle_held(Engine& engine, ArCheck* check);
