// arctl test: the test file's grammar and faults, and each kind of mismatch.
#include <gtest/gtest.h>

#include "arctl/arctl.h"
#include "arctl/test_file.h"
#include "arctl/test_report.h"
#include "support/e2e.h"
#include "support/zone_guard.h"

namespace {

// A test file "t.test" of a config line and then lines; the fault, or "".
std::string fault_of(const std::string& lines, TestFile* test = nullptr) {
  TestFile scratch;
  std::string fault;
  return parse_test_file("t.test", "config c.xml\n" + lines, test ? test : &scratch, &fault) ? "" : fault;
}

TEST(ArctlTestFile, FaultsNameTheirLine) {
  const struct { const char* lines; const char* fault; } cases[] = {
      {"at 0 push k v\nconfig d.xml\n",
       "t.test:3: config given twice (first on line 1): a file read later is a step, at T config PATH"},
      {"clock 2027-02-29 00:00:00\n", "t.test:2: clock needs YYYY-MM-DD HH:MM:SS [ZONE], a date and time that exist"},
      {"clock 2027-01-04 00:00:00 Europe/Berlinn\n",
       "t.test:2: \"Europe/Berlinn\" is no zone of the tz database (such as Europe/Berlin)"},
      {"clock 2027-01-04 00:00:00 leapseconds\n",
       "t.test:2: \"leapseconds\" is no zone of the tz database (such as Europe/Berlin)"},
      {"clock 2027-01-04 00:00:00 right/Europe/Berlin\n",
       "t.test:2: \"right/Europe/Berlin\" is no zone of the tz database (such as Europe/Berlin)"},
      {"at 1..10000.001h expect log x\n", "t.test:2: at 1..10000.001h is later than 10000h, the last time a test may reach"},
      {"program /bin/x exits 256\n", "t.test:2: program needs PATH exits N [after S], N from 0 to 255"},
      {"program /bin/x exits 0 after 1ms\n",
       "t.test:2: program needs PATH exits N [after S], S a time such as 30, 1.5 or 2m"},
      {"program /bin/x exits 0\nprogram /bin/x exits 1\n", "t.test:3: /bin/x is given on line 2 already"},
      {"at -1 hup\n", "t.test:2: \"-1\" is no time: seconds such as 30 or 1.5, or with s, m or h, or a window A..B"},
      {"at 9..8 expect log x\n", "t.test:2: the window 9..8 ends before it starts"},
      {"at 2m hup\nat 90 hup\n",
       "t.test:3: at 90 comes before line 2's at 2m: steps other than expect lines go in time order"},
      {"at 13 push k v\nat 12..15 expect log x\nat 10 expect log y\nat 0..30 every 15 push k 1 2 3\n",
       "t.test:5: at 0..30 comes before line 2's at 13: steps other than expect lines go in time order"},
      {"at 5..10 push k v\n", "t.test:2: a window is for expect lines and series (at A..B every S push KEY VALUE...): "
                               "a push happens at one time"},
      {"at 0 every 5 push k 1\n", "t.test:2: every needs a window: at A..B every S push KEY VALUE..."},
      {"at 0..10 every 0 push k 1\n", "t.test:2: every needs a time above 0, such as 5 or 0.5"},
      {"at 0..10 every 5 reply k 1\n", "t.test:2: a series is of pushes: at A..B every S push KEY VALUE..."},
      {"at 0..10 every 5 push k 1 '2 3'\n", "t.test:2: at 0..10 every 5 makes 3 pushes, the line gives 2 values"},
      {"at 1 config\n", "t.test:2: config needs a PATH"},
      {"at 1 hup now\n", "t.test:2: hup takes nothing after it"},
      {"at 1 restart now\n", "t.test:2: restart takes only \"after D\", D the time the daemon is down, such as 30 or 2m"},
      {"at 1 restart after 1ms\n", "t.test:2: restart takes only \"after D\", D the time the daemon is down, such as 30 or 2m"},
      {"at 1 restart after 5 x\n", "t.test:2: restart takes only \"after D\", D the time the daemon is down, such as 30 or 2m"},
      {"at 10 restart after 20\nat 15 reply k 1\nat 20 config d.xml\nat 29.999 command c\n",
       "t.test:5: at 29.999 the daemon is down (line 2's restart at 10 starts it again at 30): only reply and config "
       "steps may come meanwhile"},
      {"at 0..30 every 10 push k 1 2 3 4\nat 5 restart after 20\n",
       "t.test:2: at 10 the daemon is down (line 3's restart at 5 starts it again at 25): only reply and config steps "
       "may come meanwhile"},
      {"at 9999h restart after 2h\n", "t.test:2: at 9999h restart after 7200 ends later than 10000h"},
      {"at 20..30 expect log x\nat 25 end\n", "t.test:3: the end at 25 comes before line 2's at 20..30"},
      {"at 25 end\nat 20..26 expect log x\n", "t.test:3: at 20..26 is after the end, line 2's at 25"},
      {"at 25 end\nat 25 end\n", "t.test:3: end given twice (first on line 2)"},
      {"at 0 poke k v\n", "t.test:2: \"poke\" is no step (push, reply, command, config, hup, restart, end or expect)"},
      {"at 0 expect state r 1 Triged\n",
       "t.test:2: \"Triged\" is no state (Normal, Triggered, Resolving, Timeout or Disabled)"},
      {"at 0 expect value r 0 x\n", "t.test:2: expect value needs RULE REF TEXT, REF a reference's number from 1"},
      {"at 0 expect run /bin/x 'a b\n", "t.test:2: a single quote is not closed"},
      {"at 0 expect env A=1\n", "t.test:2: expect env needs an expect run above it"},
      {"at 0 expect run /bin/x\nat 1 expect env A=1\n", "t.test:3: expect env at 1 belongs to the run of line 2 at 0"},
      {"at 0 expect run /bin/x\nat 0 expect env =1\n", "t.test:3: expect env needs NAME=VALUE"},
      {"at 0 expect mail x\n", "t.test:2: \"mail\" is nothing to expect (state, value, run, env, sms, log or syslog)"},
      {"at 0 expect syslog\n", "t.test:2: expect syslog needs a TEXT"},
      {"wait 5\n", "t.test:2: \"wait\" is no line of a test (config, clock, hostname, program or at)"},
  };
  for (const auto& k : cases) EXPECT_EQ(fault_of(k.lines), k.fault) << k.lines;
  TestFile test;
  std::string fault;
  EXPECT_FALSE(parse_test_file("t.test", "# nothing\nat 0 hup\n", &test, &fault));
  EXPECT_EQ(fault, "t.test:2: a step before the config line");
  EXPECT_FALSE(parse_test_file("t.test", "# nothing\n", &test, &fault));
  EXPECT_EQ(fault, "t.test:1: no config line: which configuration does it test?");
}

TEST(ArctlTestFile, TimesWordsAndSteps) {
  const struct { const char* text; int64_t ms; } times[] = {
      {"30", 30000}, {"1.5", 1500}, {"0.125s", 125}, {"2m", 120000}, {"1.25h", 4500000}, {"0.0001h", 360},
      {"1.0005", -1}, {"", -1}, {".5", -1}, {"5x", -1}, {"1e3", -1},
  };
  for (const auto& k : times) {
    int64_t ms = -1;
    EXPECT_EQ(parse_test_time(k.text, &ms) ? ms : -1, k.ms) << k.text;
  }
  EXPECT_EQ(format_test_time(90500), "90.5");
  EXPECT_EQ(format_test_time(125), "0.125");

  TestFile test;
  ASSERT_EQ(fault_of("hostname lab1\nprogram /bin/x exits 3 after 1m\n"
                     "at 0 push config.ports.port1.enviro.temp  31.5\n"
                     "at 25..35 expect run /bin/x \"a \\\"b\\\" $c\" 'd'\\''e' f\\ g '' # h\n"
                     "at 25..35 expect env SUBJECT=x=y \n"
                     "at 1..2 every 0.5 push k 30 '31 5' 32\nat 2 config r2.xml\nat 40 end\n",
                     &test),
            "");
  EXPECT_EQ(test.config, "c.xml");
  EXPECT_EQ(test.hostname, "lab1");
  ASSERT_EQ(test.programs.size(), 1u);
  EXPECT_EQ(test.programs[0].status, 3);
  EXPECT_EQ(test.programs[0].after, 60000);
  ASSERT_EQ(test.steps.size(), 7u);
  EXPECT_EQ(test.last(), 40000);
  for (size_t i = 2; i < 5; ++i) {  // one push per value of the series
    EXPECT_EQ(test.steps[i].from, 1000 + 500 * int64_t(i - 2));
    EXPECT_EQ(test.steps[i].text, (std::vector<std::string>{"30", "31 5", "32"}[i - 2]));
  }
  EXPECT_EQ(test.steps[5].kind, StepKind::kConfig);
  EXPECT_EQ(test.steps[0].text, " 31.5");  // the rest of the line, as it is
  const Step& run = test.steps[1];
  EXPECT_EQ(run.from, 25000);
  EXPECT_EQ(run.until, 35000);
  EXPECT_EQ(run.words, (std::vector<std::string>{"/bin/x", "a \"b\" $c", "d'e", "f g", "", "#", "h"}));
  ASSERT_EQ(run.env.size(), 1u);
  EXPECT_EQ(run.env[0].name, "SUBJECT");
  EXPECT_EQ(run.env[0].value, "x=y ");
  for (const std::string& w : run.words) {
    std::vector<std::string> back;
    std::string fault;
    ASSERT_TRUE(split_words(quote_word(w), &back, &fault));
    EXPECT_EQ(back, std::vector<std::string>{w});
  }
}

TEST(ArctlTestFile, TheClockIsLocalTimeInTheZoneWithItsDaylightSaving) {
  ZoneGuard guard("UTC0");
  const struct { const char* clock; time_t wall; const char* fault; } cases[] = {
      {"", 1799020800, ""},                                      // 2027-01-04 00:00:00 UTC
      {"clock 2027-03-28 01:59:00 Europe/Berlin\n", 1806195540, ""},  // CET, a minute before summer time
      {"clock 2027-10-31 03:00:00 Europe/Berlin\n", 1824948000, ""},  // CET again
      {"clock 2027-03-28 02:30:00 Europe/Berlin\n", 0,
       "t.test:2: 2027-03-28 02:30:00 does not exist in Europe/Berlin: a daylight-saving change skips it"},
  };
  for (const auto& k : cases) {
    TestFile test;
    ASSERT_EQ(fault_of(k.clock, &test), "");
    time_t wall = 0;
    std::string fault;
    start_wall_clock(test, &wall, &fault);
    EXPECT_EQ(fault, k.fault) << k.clock;
    if (*k.fault == 0) {
      EXPECT_EQ(wall, k.wall) << k.clock;
    }
  }
}

Record run(int64_t ms, const std::string& program, std::vector<std::string> args, std::vector<std::string> env = {}) {
  return {ms, RecordKind::kRun, 0, "", 0, "", "", program, std::move(args), std::move(env), 0};
}
Record published(int64_t ms, RecordKind kind, const std::string& text) {
  return {ms, kind, 1, "rack4", 1, "", text, "", {}, {}, 0};
}
Record sms(int64_t ms, const std::string& number, const std::string& text) {
  return {ms, RecordKind::kSms, 0, "", 0, number, text, "", {}, {}, 0};
}

TEST(ArctlTestReport, EachKindOfMismatch) {
  const std::vector<Record> records = {
      published(0, RecordKind::kState, "Normal"),
      published(12000, RecordKind::kState, "Triggered"),
      published(12000, RecordKind::kValue, "36"),
      published(12000, RecordKind::kLog, "AR: name=rack4, state=Triggered"),
      published(12000, RecordKind::kSyslog, "AR rack4 ref 1: 4 of 5 within 60 s"),
      run(12000, "/bin/a", {"x"}, {"TOADDR=ops@example.com"}),
      run(12500, "/bin/b", {}),
      sms(30000, "+15551234567", "too hot"),
      published(40000, RecordKind::kState, "Timeout"),
      run(41000, "/bin/late", {}),
  };
  const struct { const char* lines; std::vector<std::string> mismatches; } cases[] = {
      {"at 12 expect run /bin/a x\nat 12 expect run /bin/b\nat 30 expect sms +15551234567 too hot\n", {}},
      {"at 10..13 expect run /bin/a x\nat 11..13 expect state rack4 1 Triggered\nat 12 expect value 1 1 36\n"
       "at 12 expect log AR: name=rack4, state=Triggered\nat 12 expect syslog AR rack4 ref 1: 4 of 5 within 60 s\n"
       "at 12.5 expect run /bin/b\n"
       "at 29..31 expect sms +15551234567 too hot\nat 41 expect state rack4 1 Timeout\n",
       {"t.test: at 41: unexpected run /bin/late"}},  // the last step's second counts whole
      {"at 12 expect run /bin/b\nat 12 expect run /bin/a x\nat 30 expect sms +15551234567 too hot\n",
       {"t.test:3: at 12: run /bin/a x came before run /bin/b, expected after it"}},
      {"at 12 expect run /bin/a y\nat 12 expect run /bin/b\nat 30 expect sms +15551234567 too hot\n",
       {"t.test:2: at 12: expected run /bin/a y, ran /bin/a x"}},
      {"at 12 expect run /bin/a\nat 12 expect run /bin/a x\nat 12 expect run /bin/b\nat 30 expect sms +15551234567 too hot\n",
       {"t.test:2: at 12: expected run /bin/a, ran /bin/a x", "t.test:3: at 12: expected run /bin/a x, nothing ran"}},
      {"at 12 expect run /bin/a x\nat 12 expect env TOADDR=me\nat 12 expect env SUBJECT=hot\n"
       "at 12 expect run /bin/b\nat 20 expect run /bin/pmpower -o 3 off\n",
       {"t.test:3: at 12: run /bin/a has \"TOADDR=ops@example.com\", expected \"TOADDR=me\"",
        "t.test:4: at 12: run /bin/a has no SUBJECT in its environment",
        "t.test:6: at 20: expected run /bin/pmpower -o 3 off, nothing ran"}},
      {"at 11 expect state rack4 1 Triggered\nat 11..12 expect state 1 1 Timeout\nat 12 expect state 1 2 Normal\n"
       "at 13 expect value rack4 1 35\n",
       {"t.test:2: at 11: state of rack4 ref 1 is Normal, expected Triggered",
        "t.test:3: at 11..12: state of rule 1 ref 1 was Normal, then Triggered, expected Timeout",
        "t.test:4: at 12: rule 1 ref 2 has no state, expected Normal", "t.test: at 12: unexpected run /bin/a x",
        "t.test: at 12.5: unexpected run /bin/b", "t.test:5: at 13: value of rack4 ref 1 is \"36\", expected \"35\""}},
      {"at 12 expect run /bin/a x\nat 12 expect run /bin/b\nat 30 expect sms +15551234567 too cold\n"
       "at 30 expect sms +15550000000 hi\nat 30 expect log done\nat 16 expect log AR: name=rack4, state=triggered\n"
       // Each stream is searched alone: the engine's line is in no syslog, the daemon's in no log key.
       "at 12 expect syslog AR: name=rack4, state=Triggered\nat 12 expect log AR rack4 ref 1: 4 of 5 within 60 s\n",
       {"t.test:8: at 12: expected syslog \"AR: name=rack4, state=Triggered\", not in the daemon's own log; logged "
        "there around it: at 12 \"AR rack4 ref 1: 4 of 5 within 60 s\"",
        "t.test:9: at 12: expected log \"AR rack4 ref 1: 4 of 5 within 60 s\", not in infod's log key; logged there "
        "around it: at 12 \"AR: name=rack4, state=Triggered\"",
        "t.test:7: at 16: expected log \"AR: name=rack4, state=triggered\", not in infod's log key; logged there "
        "around it: at 12 \"AR: name=rack4, state=Triggered\"",
        "t.test:4: at 30: expected sms +15551234567 \"too cold\", sent \"too hot\"",
        "t.test:5: at 30: expected sms +15550000000 \"hi\", none sent",
        "t.test:6: at 30: expected log \"done\", not in infod's log key; nothing logged there from 25 to 35"}},
  };
  for (const auto& k : cases) {
    TestFile test;
    ASSERT_EQ(fault_of(k.lines, &test), "") << k.lines;
    std::vector<std::string> lines;
    for (const Mismatch& m : compare_run(test, records)) lines.push_back(mismatch_line(test, m));
    EXPECT_EQ(lines, k.mismatches) << k.lines;
  }
}

TEST(ArctlTestReport, TheTraceReadsBackAsATestThatPasses) {
  TestFile head;
  ASSERT_EQ(fault_of("program /bin/a exits 3 after 1.5\nclock 2027-03-28 01:59:00 Europe/Berlin\n", &head), "");
  const auto input = [](int64_t ms, RecordKind kind, const std::string& key, const std::string& text) {
    return Record{ms, kind, 0, "", 0, key, text, "", {}, {}, 0};
  };
  std::vector<Record> records = {published(0, RecordKind::kState, "Resolving"),
                                 published(0, RecordKind::kState, "Triggered"),
                                 published(0, RecordKind::kValue, "3 6"), input(0, RecordKind::kReply, "k", "0"),
                                 run(1500, "/bin/a", {"it's", "x y"}, {"TOADDR=a b"}), sms(2000, "+1555", "hot  now"),
                                 input(3000, RecordKind::kConfig, "", "d.xml"), input(3000, RecordKind::kHup, "", "-"),
                                 input(3500, RecordKind::kRestart, "", ""), input(3600, RecordKind::kRestart, "", "60")};
  std::ostringstream trace;
  print_trace(head, records, trace);
  EXPECT_EQ(trace.str(),
            "config c.xml\nclock 2027-03-28 01:59:00 Europe/Berlin\nhostname appliance\n"
            "program /bin/a exits 3 after 1.5\n# at 0 passed state rack4 1 Resolving\n"
            "at 0 expect state rack4 1 Triggered\nat 0 expect value rack4 1 3 6\nat 0 reply k 0\n"
            "at 1.5 expect run /bin/a 'it'\\''s' 'x y'\nat 1.5 expect env TOADDR=a b\nat 2 expect sms +1555 hot  now\n"
            "at 3 config d.xml\nat 3 hup\n# at 3 reloaded: -\nat 3.5 restart\nat 3.6 restart after 60\nat 3.6 end\n");
  TestFile test;
  std::string fault;
  ASSERT_TRUE(parse_test_file("t.test", trace.str(), &test, &fault)) << fault;
  EXPECT_TRUE(compare_run(test, records).empty());
}

// Runs arctl test on file, which passes, then on its trace, which must pass too; the trace.
std::string passes_and_so_does_its_trace(const std::string& file) {
  std::ostringstream out, err, trace, again;
  EXPECT_EQ(arctl_main({"test", file}, out, err), 0) << out.str() << err.str();
  EXPECT_EQ(arctl_main({"test", "--trace", file}, trace, err), 0) << err.str();
  e2e::write_file(file + ".trace.test", trace.str());
  EXPECT_EQ(arctl_main({"test", file + ".trace.test"}, again, err), 0) << again.str() << trace.str();
  return trace.str();
}

// The engine under the test's clock: an unanswered get costs 2 s and holds up the tick, which the next ones follow as
// the daemon's do; the limit holds a delayed action behind a program until its time-out, a reload of the same file
// keeps every state, a window follows a daylight-saving change, an end line makes runs up to it strict.
TEST(ArctlTestSimulation, TheEngineRunsOnTheTestsClock) {
  const ZoneGuard zone("UTC0");
  e2e::TempDir dir;
  ConfigBuilder c = enviro_rules(3);
  c.set("config.autoresponse.concurrent_actions", 1).set("config.autoresponse.action_timeout", 20);
  add_script(c, 1, "trigger_actions", 1, "a", "/bin/a", "$AR_VAL", 7);
  add_script(c, 2, "trigger_actions", 1, "slow", "/bin/slow");
  e2e::set_all(c, rule_path(3) + ".disable.day0.", "start_hour=3;start_min=0;end_hour=3;end_min=10");
  e2e::write_file(dir.path() + "/rules.xml", c.xml());
  const std::string head = "config rules.xml\nclock 2027-03-28 01:59:00 Europe/Berlin\nprogram /bin/slow exits 0 after 60\n";
  const struct { const char* lines; int status; std::string out; } cases[] = {
      {"at 1 push config.ports.port1.enviro.temp 31\nat 2 push config.ports.port2.enviro.temp 31\n"
       "at 2 expect state rule2 1 Normal\nat 3 expect state rule2 1 Triggered\nat 3 expect run /bin/slow\n"
       "at 25 expect log Action timed out: slow for AR: rule2\nat 25 expect run /bin/a 31\n"
       "at 30 hup\nat 30 expect state rule1 1 Triggered\nat 55 expect state 3 1 Normal\nat 60 expect state 3 1 Disabled\n",
       0, "PASS t.test\n1 test: 1 passed, 0 failed\n"},
      {"at 1 push config.ports.port1.enviro.temp 31\nat 8 expect run /bin/a 31\n", 1,
       "FAIL t.test\nt.test:5: at 8: expected run /bin/a 31, nothing ran\n1 test: 0 passed, 1 failed\n"},
      {"at 1 push config.ports.port1.enviro.temp 31\nat 20 end\n", 1,
       "FAIL t.test\nt.test: at 10: unexpected run /bin/a 31\n1 test: 0 passed, 1 failed\n"},
      {"at 4.5 push config.ports.port1.enviro.temp 31\nat 11.5 expect run /bin/a 31\n", 0,
       "PASS t.test\n1 test: 1 passed, 0 failed\n"},
      {"at 0 expect state rule4 1 Normal\n", 2, "1 test: 0 passed, 0 failed, 1 could not be read\n"},
      {"at 0 expect state 1 2 Normal\n", 2, "1 test: 0 passed, 0 failed, 1 could not be read\n"},
  };
  for (const auto& k : cases) {
    const std::string file = dir.path() + "/t.test";
    e2e::write_file(file, head + k.lines);
    std::ostringstream out, err;
    EXPECT_EQ(arctl_main({"test", file}, out, err), k.status) << k.lines << err.str();
    EXPECT_EQ(k.status == 2, err.str().find(file + ":4: ") != std::string::npos) << err.str();
    std::string shown = out.str();
    for (size_t at; (at = shown.find(file)) != std::string::npos;) shown.replace(at, file.size(), "t.test");
    EXPECT_EQ(shown, k.out) << k.lines;
  }
}

// Ticks that change nothing are skipped, not those that would: a delayed action and a time-out after a long quiet
// stretch come at their ticks. An update without a value changes nothing, as in the daemon.
TEST(ArctlTestSimulation, QuietStretchesAndUpdatesWithoutAValue) {
  e2e::TempDir dir;
  ConfigBuilder c = enviro_rules(1);
  c.set("config.autoresponse.action_timeout", 10);
  add_script(c, 1, "trigger_actions", 1, "a", "/bin/a", "$AR_VAL", 7);
  e2e::write_file(dir.path() + "/rules.xml", c.xml());
  const std::string file = dir.path() + "/t.test";
  e2e::write_file(file, "config rules.xml\nprogram /bin/a exits 0 after 1h\n"
                        "at 0 push config.ports.port1.enviro.temp\nat 0 expect state rule1 1 Normal\n"
                        "at 3600.5 push config.ports.port1.enviro.temp 31\nat 3610 expect run /bin/a 31\n"
                        "at 3620 expect log Action timed out: a for AR: rule1\n"
                        "at 9999h expect state rule1 1 Triggered\n");
  const std::string trace = passes_and_so_does_its_trace(file);
  EXPECT_NE(trace.find("at 0 push config.ports.port1.enviro.temp \n# at 0 daemon: Invalid message from infod\n"
                       "at 3600.5 push"),
            std::string::npos)
      << trace;
}

// The burst of the README: four failed logins within a minute change nothing, one older than a minute falls out,
// the fifth within a minute alerts once and the count starts again. Without the burst every login alerts.
TEST(ArctlTestSimulation, ABurstOfFailedLoginsAlertsOnce) {
  e2e::TempDir dir;
  const std::string rule =
      "<config><autoresponse><total>1</total><autoresponse1>\n"
      "<name>login-storm</name><check_type>cli_login</check_type>\n"
      "<cli_login><trigger_auth_error>on</trigger_auth_error></cli_login>\n"
      "%<trigger_actions><total>1</total><action1>\n"
      "<name>alert the NMS</name><action_type>snmp</action_type>\n"
      "</action1></trigger_actions>\n"
      "</autoresponse1></autoresponse></config>\n";
  const std::string login = " push config.pam.auth_event.auth_error root:sshd:/usr/sbin/sshd:192.0.2.9\n";
  const std::string test = "config logins.xml\nclock 2027-01-04 09:00:00 Europe/Berlin\nat 0" + login +
                           "at 10" + login + "at 20" + login + "at 30" + login +
                           "at 30 expect state login-storm 1 Normal\nat 65" + login + "at 68" + login +
                           "at 68 expect run /etc/scripts/cli-user-alert snmp 1 1 07eb0104090108002b0100 2 "
                           "'AUTH ERROR' root 'SSH Service' 192.0.2.9\nat 75" + login +
                           "at 75 expect state login-storm 1 Normal\n";
  e2e::write_file(dir.path() + "/t.test", test);
  const std::pair<std::string, int> runs[] = {{"<burst><count>5</count><window>60</window></burst>", 0}, {"", 1}};
  for (const auto& [burst, status] : runs) {
    std::string xml = rule;
    xml.replace(xml.find('%'), 1, burst);
    e2e::write_file(dir.path() + "/logins.xml", xml);
    std::ostringstream out, err;
    EXPECT_EQ(arctl_main({"test", dir.path() + "/t.test"}, out, err), status) << out.str() << err.str();
  }
}

// A reload that keeps rule1 keeps its state and its delayed action; one that raises rule2's threshold above its
// reading carries its state and judges the reading again: it resolves. A restart ends the running program unseen
// (not run again), drops what waited for rule2 as it was before the reload (its command is built only from the rule
// it was queued for), publishes the kept state and runs the delayed action at the new process's tick. The trace of
// it all reads back as a test that passes.
TEST(ArctlTestSimulation, AReloadAndARestartKeepWhatTheDaemonKeeps) {
  e2e::TempDir dir;
  ConfigBuilder c = enviro_rules(2).set("config.autoresponse.concurrent_actions", 1);
  const struct { int rule, k; const char *name, *script; int delay; } actions[] = {
      {1, 1, "hold", "/bin/slow", 0}, {1, 2, "later", "/bin/a", 30}, {2, 1, "two", "/bin/b", 0}};
  for (const auto& a : actions) add_script(c, a.rule, "trigger_actions", a.k, a.name, a.script, "$AR_VAL", a.delay);
  e2e::write_file(dir.path() + "/v1.xml", c.xml());
  e2e::write_file(dir.path() + "/v2.xml", c.set(rule_path(2) + ".enviro.trigger_val", 50).xml());
  const std::string file = dir.path() + "/t.test";
  e2e::write_file(file,
                  "config v1.xml\nprogram /bin/slow exits 0 after 1h\n"
                  "at 1.5 reply config.ports.port1.enviro.count.temp 0\nat 1.5 push config.ports.port1.enviro.temp 31\n"
                  "at 1.5 reply config.ports.port2.enviro.count.temp 0\nat 1.5 push config.ports.port2.enviro.temp 45\n"
                  "at 1.5 expect run /bin/slow 31\n"
                  "at 10 config v2.xml\nat 10 hup\n"
                  "at 10 expect state rule1 1 Triggered\nat 10 expect state rule2 1 Normal\n"
                  "at 22 restart\nat 22 expect state rule1 1 Triggered\n"
                  "at 22 expect log Dropped action: two for AR: rule2 - its rule has changed\n"
                  "at 22 expect log Action hold for AR rule1 was running when the daemon stopped: not run again\n"
                  "at 32 expect run /bin/a 31\nat 40 push config.ports.port1.enviro.temp 20\n"
                  "at 40 expect state rule1 1 Normal\nat 1h end\n");
  passes_and_so_does_its_trace(file);
}

// Levels in the simulation: a window that ends with the reading it hid acts on it (a UPS on battery through its
// window pages when the window ends), and a start finds what infod holds already.
TEST(ArctlTestSimulation, AWindowEndingOnABadReadingAndAStartOnOneAct) {
  e2e::TempDir dir;
  ConfigBuilder c = enviro_rules(2);
  add_script(c, 1, "trigger_actions", 1, "page", "/bin/page", "$AR_VAL");
  add_script(c, 2, "trigger_actions", 1, "page", "/bin/page", "$AR_VAL");
  const std::string day = rule_path(1) + ".disable.day1";  // 2027-01-04 is a Monday
  c.set(rule_path(1) + ".disable.day0.start_hour", 0);     // the schedule is on when Sunday's start is set
  c.set(day + ".start_hour", 0).set(day + ".start_min", 0).set(day + ".end_hour", 0).set(day + ".end_min", 1);
  e2e::write_file(dir.path() + "/c.xml", c.xml());
  e2e::write_file(dir.path() + "/t.test",
                  "config c.xml\nclock 2027-01-04 00:00:00 UTC\n"
                  "at 0 reply config.ports.port1.enviro.count.temp 0\nat 0 reply config.ports.port2.enviro.count.temp 0\n"
                  "at 0 reply config.ports.port2.enviro.temp 31\n"
                  "at 0 expect state rule1 1 Disabled\nat 0 expect state rule2 1 Triggered\nat 0 expect run /bin/page 31\n"
                  "at 10 push config.ports.port1.enviro.temp 35\nat 10 expect state rule1 1 Disabled\n"
                  "at 120..125 expect state rule1 1 Triggered\nat 120..125 expect run /bin/page 35\nat 130 end\n");
  std::ostringstream out, err;
  EXPECT_EQ(arctl_main({"test", dir.path() + "/t.test"}, out, err), 0) << out.str() << err.str();
  // What explain tells of the run: the reading the window hid, judged when it ends, and what then ran.
  const struct { const char* at; std::string out; } explained[] = {
      {"10", "rule 1 (rule1) reference 1 config.ports.port1.enviro: Disabled since 2027-01-04 00:00:00\n"
             "  latest value 35 at 2027-01-04 00:00:10\n"
             "  the check (environmental, a level): temp against 30; enviro.check_type=temp, "
             "enviro.dev_ref=config.ports.port1.enviro, enviro.trigger_val=30, enviro.hysteresis=1\n"
             "  judged then, that value triggers it: AR config.autoresponse.autoresponse1 triggered. "
             "val 35.000000 vs trigger 30.000000\n"
             "  window ends at 2027-01-04 00:02:00\n"
             "  what would change it: its window ends at 2027-01-04 00:02:00; then its latest value is judged again\n"
             "last actions: none since the daemon started\n"},
      {"130", "rule 1 (rule1) reference 1 config.ports.port1.enviro: Triggered since 2027-01-04 00:02:00\n"
              "  latest value 35 at 2027-01-04 00:00:10\n"
              "  the check (environmental, a level): temp against 30; enviro.check_type=temp, "
              "enviro.dev_ref=config.ports.port1.enviro, enviro.trigger_val=30, enviro.hysteresis=1\n"
              "  that value keeps it Triggered\n"
              "  what would change it: an update the check judges clear resolves it; a cancel sends it into Timeout\n"
              "last actions:\n  'page' ended with status 0 at 2027-01-04 00:02:00\n"},
  };
  for (const auto& k : explained) {
    std::ostringstream told, why;
    EXPECT_EQ(arctl_main({"test", "--explain", "rule1", k.at, dir.path() + "/t.test"}, told, why), 0) << why.str();
    EXPECT_EQ(told.str(), k.out) << k.at;
  }
}

// A restart after a downtime: nothing reaches the daemon while it is down, so the delayed action that fell due
// meanwhile runs once when it starts, from the file a config step named while it was down, and infod holds the
// state published before; the daemon's own lines are expected as such. The trace reads back as a test that passes.
TEST(ArctlTestSimulation, ARestartAfterADowntimeRunsWhatFellDueOnceAtTheStart) {
  e2e::TempDir dir;
  ConfigBuilder c = enviro_rules(1);
  add_script(c, 1, "trigger_actions", 1, "later", "/bin/a", "$AR_VAL", 30);
  e2e::write_file(dir.path() + "/v1.xml", c.xml());
  e2e::write_file(dir.path() + "/v2.xml", c.set("config.autoresponse.concurrent_actions", 3).xml());
  const std::string file = dir.path() + "/t.test";
  e2e::write_file(file,
                  "config v1.xml\n"
                  "at 1 reply config.ports.port1.enviro.count.temp 0\nat 1 push config.ports.port1.enviro.temp 31\n"
                  "at 10 restart after 60\nat 20 config v2.xml\nat 40 expect state rule1 1 Triggered\n"
                  "at 70 expect syslog Reaped 1000 - status 0 - action " + rule_path(1) + ".trigger_actions.action1 - 0 queued "
                  "actions remaining\n"
                  "at 70 expect run /bin/a 31\nat 70 expect state rule1 1 Triggered\n"
                  "at 80 push config.ports.port1.enviro.temp 20\nat 80 expect state rule1 1 Normal\nat 2m end\n");
  const std::string trace = passes_and_so_does_its_trace(file);
  EXPECT_NE(trace.find("at 10 restart after 60\n"), std::string::npos) << trace;
}

}  // namespace
