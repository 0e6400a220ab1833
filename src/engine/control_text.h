// The control text: what is written into infod's "config.autoresponse.command"
// key to steer a running AutoResponse, and the rules of a silence it may ask
// for. The daemon parses it here, arctl formats it here, so the two cannot
// drift apart. The text is comma-separated fields: the rule's configuration
// path, who sent it, the command, and what the command takes (cancel
// nothing; whatever follows is ignored):
//   PATH,ORIGIN,cancel
//   PATH,ORIGIN,silence,SECONDS,REF[,REASON]   (REF 0: every reference;
//                                              REASON is the rest, commas too)
//   PATH,ORIGIN,unsilence,REF                  (REF 0: every silence)
// Leading commas and runs of commas count as one separator. A sender that
// wants an answer puts "@ID " before the text, ID of its choosing; the
// daemon then publishes what it made of the command under
// kControlResultKey as "ID accepted" or "ID refused REASON", REASON what it
// logged. The answer is information for the sender, never a command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The key commands arrive under.
constexpr const char* kControlKey = "config.autoresponse.command";

// The key the answers to commands with an id go under.
constexpr const char* kControlResultKey = "config.autoresponse.daemon.command.result";

// An id: 1 to kMaxControlId letters, digits, '.', '_' or '-', so that it
// stands in the answer as one word and in no way as anything else.
constexpr size_t kMaxControlId = 64;
bool control_id_fits(std::string_view id);
// Takes a leading "@ID " off *text and returns ID; nullopt, *text as it
// was, when text does not begin with a well-formed one (the text is then
// read as before ids were known: an '@' in a path names no rule).
std::optional<std::string> control_id_take(std::string_view* text);
// "@ID " for a fitting id.
std::string control_id_format(const std::string& id);

// What the daemon made of the command with id: accepted, or refused with
// the reason it logged.
struct ControlResult {
  std::string id;
  bool accepted = false;
  std::string reason;  // for a refusal, as logged (escaped; its first 512 bytes)
  bool operator==(const ControlResult&) const = default;
};
std::string control_result_format(const ControlResult& result);
// nullopt for a value that is no answer (infod is a shared bus).
std::optional<ControlResult> control_result_parse(std::string_view value);

// One control text split into its fields. Parsing keeps the command field
// and what follows it as sent, since the log line quotes them so; format
// writes what parse reads back to the same fields.
struct ControlText {
  std::string path;
  std::string origin;
  std::string command;  // the command field as sent: "cancel", "cancelled", ...
  std::string args;     // the text after the command field's comma, as sent ("" for none)
  bool operator==(const ControlText&) const = default;
};

// The fields of text, which ends at its first NUL as infod hands it over;
// nullopt without a path, an origin or a command ("Invalid control message
// received").
std::optional<ControlText> control_text_parse(std::string_view text);
// PATH,ORIGIN,COMMAND[,ARGS]; path, origin and command are non-empty and
// hold no comma.
std::string control_text_format(const ControlText& text);

enum class ControlVerb { kCancel, kSilence, kUnsilence };

// The verb a command field names: silence and unsilence only as the whole
// field; cancel as any field that begins with it, as peers of the oldest
// verb rely on. nullopt for none ("Unknown action: COMMAND").
std::optional<ControlVerb> control_verb_of(std::string_view command);
const char* control_verb_name(ControlVerb verb);

// A number in decimal digits alone; nullopt for anything else, "" too. One
// past 32 bits reads as UINT32_MAX, which is past every bound.
std::optional<uint32_t> control_count_parse(std::string_view text);

// What silence takes. A reason of none and an empty one are told apart
// only for the bytes sent: the daemon reads both as none.
struct SilenceArgs {
  uint32_t seconds = 0;
  uint32_t ref = 0;  // 0: every reference
  std::optional<std::string> reason;
  bool operator==(const SilenceArgs&) const = default;
};

// silence's arguments, or why they are refused ("no number of seconds",
// "no reference number"); the reason is the rest after the reference's
// field, its leading commas dropped, nullopt when nothing is left.
bool silence_args_parse(std::string_view args, SilenceArgs* out, std::string* why);
std::string silence_args_format(const SilenceArgs& args);

// unsilence's reference, or why it is refused ("no reference number").
bool unsilence_args_parse(std::string_view args, uint32_t* ref, std::string* why);
std::string unsilence_args_format(uint32_t ref);

// Whether name can stand as a field of the text (the origin): not empty,
// no comma that would split it, no control character that has no place in
// a log line.
bool control_field_fits(std::string_view name);

// The rules of a silence, for the daemon that keeps silences and for
// arctl that asks for them and shows them.

// The longest silence, and the longest reason one may give.
constexpr int32_t kMaxSilenceSeconds = 30 * 24 * 3600;
constexpr size_t kMaxSilenceReason = 256;

// Why a silence of seconds with a reason of reason_size bytes is out of
// bounds; empty when it is within them.
std::string silence_bounds_refusal(int64_t seconds, size_t reason_size);
bool silence_seconds_fit(int64_t seconds);
// Whether text can go as the reason: within its bound, and no control
// character (the daemon takes the rest of the text, commas too).
bool silence_reason_fits(std::string_view text);

// Whether a silence of silence_ref (0: every reference) covers reference
// ref of its rule.
inline bool silence_covers(uint32_t silence_ref, uint32_t ref) { return silence_ref == 0 || silence_ref == ref; }
// Whether two silences of one rule stand in each other's way: a reference
// has one at most, and one of every reference counts as one on each.
inline bool silences_overlap(uint32_t a, uint32_t b) { return a == 0 || b == 0 || a == b; }
// Whether unsilence of ref (0: every silence) lifts a silence of silence_ref.
inline bool unsilence_lifts(uint32_t ref, uint32_t silence_ref) { return ref == 0 || silence_ref == ref; }

// "every reference" or "reference N".
std::string silenced_whom(uint32_t ref);
