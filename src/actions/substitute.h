// Text substitution: the tokens an administrator may write into action
// texts ("$AR_NAME", "$TIMESTAMP", ...), the value each one stands for,
// and the replacement of every token that occurs.
#pragma once

#include <optional>
#include <string>

class Clock;
struct ArCheck;

// What the tokens read besides the reference: the wall clock ($TIMESTAMP)
// and the host's name ($HOSTNAME: this one when set, else the system's,
// asked when the token occurs).
struct SubstitutionSources {
  Clock& clock;
  const std::optional<std::string>& hostname;
};

// Computes a token's value for an ArCheck; no value (nullopt) makes the
// whole substitution fail.
using SubstitutionProducer = std::optional<std::string> (*)(const SubstitutionSources& from, ArCheck* check);

struct SubstitutionVariable {
  const char* token;  // matched as a plain substring
  SubstitutionProducer producer;
};

// In the order values are produced; ends with a row whose token is null.
extern const SubstitutionVariable kSubstitutionVariables[];

// Replaces every token of text for check in one pass from left to right;
// an inserted value is never searched for tokens. 0 with *result set:
// at least one token occurred and *result is the new text; 0 with *result
// empty: no token occurs. -1 (nothing stored): a value was missing or
// memory ran out; the caller keeps text as it is, tokens included.
int substitute_text(const SubstitutionSources& from, const std::string& text, ArCheck* check,
                    std::optional<std::string>* result);

// The actions' common step: the substituted text, or text itself when no
// token occurs or when the substitution failed, which is logged ("Text
// substitution failed", 400) and does not fail the action.
std::string substitute_or_keep(const SubstitutionSources& from, const std::string& text, ArCheck* check);

// The "$CELLNUM" value: for a rule whose kind answers a phone (the SMS
// command check) the sender of the current event, else "".
std::string substitution_cellnum(const ArCheck* check);
