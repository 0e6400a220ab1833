// The control text: its fields, verbs and arguments as tables, what format writes reading back the same, and the
// rules of a silence.
#include <gtest/gtest.h>

#include "engine/control_text.h"

namespace {

TEST(ControlText, FieldsSplitAtCommasRunsCountingAsOne) {
  const struct { std::string text; std::optional<ControlText> fields; } cases[] = {
      {"p,o,cancel", ControlText{"p", "o", "cancel", ""}},
      {",,p,,o,,cancel now,extra", ControlText{"p", "o", "cancel now", "extra"}},
      {"p,o,silence,,600,0,a, b", ControlText{"p", "o", "silence", ",600,0,a, b"}},
      {"p,o,cancel,", ControlText{"p", "o", "cancel", ""}},
      {std::string("p,o,cancel\0,x", 13), ControlText{"p", "o", "cancel", ""}},  // infod hands a C string over
      {"p,o", std::nullopt},
      {"p,,", std::nullopt},
      {",,,", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(row.fields, control_text_parse(row.text)) << row.text;
    if (row.fields) {
      EXPECT_EQ(row.fields, control_text_parse(control_text_format(*row.fields))) << row.text;
    }
  }
  EXPECT_EQ("p,o,silence,600,0,why", control_text_format({"p", "o", "silence", "600,0,why"}));
}

// A leading "@ID " is taken off only when well formed; otherwise the text stays as it was, for the old reading.
TEST(ControlText, AnIdBeforeTheTextAndTheAnswerToIt) {
  const struct { std::string text; std::optional<std::string> id; std::string rest; } cases[] = {
      {"@4711.1700000000000.1 p,o,cancel", "4711.1700000000000.1", "p,o,cancel"},
      {"@a-b_C p,o", "a-b_C", "p,o"},
      {"@x ", "x", ""},
      {"@" + std::string(kMaxControlId, 'i') + " p", std::string(kMaxControlId, 'i'), "p"},
      {"@" + std::string(kMaxControlId + 1, 'i') + " p", std::nullopt, ""},
      {"@ p,o,cancel", std::nullopt, ""},
      {"@a,b p,o,cancel", std::nullopt, ""},
      {"@a\tb p", std::nullopt, ""},
      {"@nospace", std::nullopt, ""},
      {"p,o,@x cancel", std::nullopt, ""},
      {",@x p,o,cancel", std::nullopt, ""},
  };
  for (const auto& row : cases) {
    std::string_view text = row.text;
    EXPECT_EQ(row.id, control_id_take(&text)) << row.text;
    EXPECT_EQ(row.id ? row.rest : row.text, text) << row.text;
    if (row.id) {
      EXPECT_EQ(row.text, control_id_format(*row.id) + row.rest);
    }
  }
  const struct { std::string value; std::optional<ControlResult> result; } answers[] = {
      {"7.1 accepted", ControlResult{"7.1", true, ""}},
      {"7.1 refused Unknown action: cance", ControlResult{"7.1", false, "Unknown action: cance"}},
      {"7.1 refused ", ControlResult{"7.1", false, ""}},
      {"7.1 accepted now", std::nullopt},
      {"7.1 refusedx", std::nullopt},
      {"a,b accepted", std::nullopt},
      {"accepted", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& row : answers) {
    EXPECT_EQ(row.result, control_result_parse(row.value)) << row.value;
    if (row.result) {
      EXPECT_EQ(row.value, control_result_format(*row.result));
    }
  }
}

TEST(ControlText, VerbsCancelByPrefixTheOthersWhole) {
  const struct { const char* command; std::optional<ControlVerb> verb; } cases[] = {
      {"cancel", ControlVerb::kCancel},       {"cancelled", ControlVerb::kCancel},
      {"cance", std::nullopt},                {"silence", ControlVerb::kSilence},
      {"silencefoo", std::nullopt},           {"silence now", std::nullopt},
      {"unsilence", ControlVerb::kUnsilence}, {"unsilenced", std::nullopt},
      {"Cancel", std::nullopt},
  };
  for (const auto& row : cases) EXPECT_EQ(row.verb, control_verb_of(row.command)) << row.command;
  for (ControlVerb verb : {ControlVerb::kCancel, ControlVerb::kSilence, ControlVerb::kUnsilence}) {
    EXPECT_EQ(verb, control_verb_of(control_verb_name(verb)));
  }
}

TEST(ControlText, SilenceAndUnsilenceArguments) {
  const struct { std::string args; std::optional<SilenceArgs> silence; std::string why; } cases[] = {
      {"600,2", SilenceArgs{600, 2, std::nullopt}, ""},
      {",,600,,2,,,kernel, then reboot", SilenceArgs{600, 2, "kernel, then reboot"}, ""},
      {"600,2,,,", SilenceArgs{600, 2, std::nullopt}, ""},
      {"0060,0", SilenceArgs{60, 0, std::nullopt}, ""},
      {"99999999999999999999,1", SilenceArgs{UINT32_MAX, 1, std::nullopt}, ""},
      {"", std::nullopt, "no number of seconds"},
      {"x600,0", std::nullopt, "no number of seconds"},
      {"-5,0", std::nullopt, "no number of seconds"},
      {"600", std::nullopt, "no reference number"},
      {"600,1x", std::nullopt, "no reference number"},
  };
  for (const auto& row : cases) {
    SilenceArgs got;
    std::string why;
    EXPECT_EQ(row.silence.has_value(), silence_args_parse(row.args, &got, &why)) << row.args;
    EXPECT_EQ(row.why, why) << row.args;
    if (!row.silence) continue;
    EXPECT_EQ(*row.silence, got) << row.args;
    SilenceArgs again;
    EXPECT_TRUE(silence_args_parse(silence_args_format(got), &again, &why));
    EXPECT_EQ(got, again) << row.args;
  }
  // An empty reason given is sent as one: the bytes arctl always sent.
  EXPECT_EQ("60,0,", silence_args_format({60, 0, ""}));
  uint32_t ref = 7;
  std::string why;
  EXPECT_TRUE(unsilence_args_parse(",3,extra", &ref, &why));
  EXPECT_EQ(3u, ref);
  EXPECT_EQ("3", unsilence_args_format(ref));
  EXPECT_FALSE(unsilence_args_parse("x", &ref, &why));
  EXPECT_EQ("no reference number", why);
}

TEST(ControlText, WhatMayStandInATextAndTheBoundsOfASilence) {
  for (const char* name : {"alice", "night shift", "ü"}) EXPECT_TRUE(control_field_fits(name)) << name;
  for (const char* name : {"", "a,b", "a\tb", "a\x7f"}) EXPECT_FALSE(control_field_fits(name)) << name;
  EXPECT_TRUE(silence_reason_fits("rack move, row 4"));
  EXPECT_TRUE(silence_reason_fits(std::string(kMaxSilenceReason, 'r')));
  EXPECT_FALSE(silence_reason_fits(std::string(kMaxSilenceReason + 1, 'r')));
  EXPECT_FALSE(silence_reason_fits("a\nb"));
  const struct { int64_t seconds; size_t reason; std::string why; } bounds[] = {
      {1, 0, ""},
      {kMaxSilenceSeconds, kMaxSilenceReason, ""},
      {0, 0, "the duration must be 1 to 2592000 seconds"},
      {int64_t{kMaxSilenceSeconds} + 1, 0, "the duration must be 1 to 2592000 seconds"},
      {60, kMaxSilenceReason + 1, "the reason is longer than 256 bytes"},
  };
  for (const auto& row : bounds) {
    EXPECT_EQ(row.why, silence_bounds_refusal(row.seconds, row.reason)) << row.seconds;
    EXPECT_EQ(row.seconds >= 1 && row.seconds <= kMaxSilenceSeconds, silence_seconds_fit(row.seconds));
  }
  // covers (silence, reference), overlap (a, b), lifts (unsilence, silence): 0 is every reference.
  const struct { uint32_t a, b; bool covers, overlap, lifts; } refs[] = {
      {0, 2, true, true, true}, {2, 2, true, true, true}, {2, 3, false, false, false}, {2, 0, false, true, false},
  };
  for (const auto& row : refs) {
    EXPECT_EQ(row.covers, silence_covers(row.a, row.b)) << row.a << "," << row.b;
    EXPECT_EQ(row.overlap, silences_overlap(row.a, row.b)) << row.a << "," << row.b;
    EXPECT_EQ(row.lifts, unsilence_lifts(row.a, row.b)) << row.a << "," << row.b;
  }
  EXPECT_EQ("every reference", silenced_whom(0));
  EXPECT_EQ("reference 4", silenced_whom(4));
}

}  // namespace
