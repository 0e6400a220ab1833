// fuzz-seconds: 30
// libFuzzer target: arbitrary texts through the control text's parsers. What parses formats to a text that parses
// back to the same fields, and so do silence's and unsilence's arguments, an id and an answer; the fields hold no
// comma.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/control_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (const std::optional<ControlResult> result = control_result_parse(input)) {
    if (control_result_parse(control_result_format(*result)) != result) abort();
  }
  std::string_view rest = input;
  if (const std::optional<std::string> id = control_id_take(&rest)) {
    if (!control_id_fits(*id) || control_id_format(*id) + std::string(rest) != input) abort();
  }
  const std::optional<ControlText> text = control_text_parse(rest);
  if (!text) return 0;
  for (const std::string* field : {&text->path, &text->origin, &text->command}) {
    if (field->empty() || field->find(',') != std::string::npos || field->find('\0') != std::string::npos) abort();
  }
  if (control_text_parse(control_text_format(*text)) != text) abort();
  SilenceArgs silence;
  std::string why;
  if (silence_args_parse(text->args, &silence, &why)) {
    SilenceArgs again;
    if (!silence_args_parse(silence_args_format(silence), &again, &why) || !(again == silence)) abort();
  } else if (why.empty()) {
    abort();
  }
  uint32_t ref = 0, ref_again = 0;
  if (unsilence_args_parse(text->args, &ref, &why) &&
      (!unsilence_args_parse(unsilence_args_format(ref), &ref_again, &why) || ref_again != ref)) {
    abort();
  }
  return 0;
}
