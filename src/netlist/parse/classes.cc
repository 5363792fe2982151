// Class words and pin names of the cell classes.
#include <climits>
#include <initializer_list>

#include "netlist/parse/parse.h"

namespace vorq {

namespace {

// The longest name of the pcd table has 8 bytes.
constexpr size_t kMaxStem = 15;

bool one_of(const char* s, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (std::strcmp(s, n) == 0) return true;
  return false;
}

// The number of a parameterised class, checked; false when it breaks the
// rules of the class. A number that would not survive the 8-bit width
// unchanged is refused for the classes whose width is written back.
bool number_ok(int code, int number) {
  switch (code) {
    case C_AND:
    case C_NAND:
    case C_OR:
    case C_NOR:
      return number >= 2 && number <= 255;
    case C_EOR:
    case C_ENOR:
      return number == 2;
    case C_AOI:
    case C_OAI:
      switch (number) {
        case 21: case 22: case 31: case 32: case 33: case 211: case 221: case 222:
          return true;
        default:
          return false;
      }
    default:
      return true;
  }
}

}  // namespace

int class_f(const char* word, int table) {
  class_number = 0;

  // a complete class name; a bare stem of a parameterised class has no width
  int code = screen(word, table);
  if (code != C_MODULE) {
    if (is_gate_class(code)) quit(1);
    return code;
  }

  // stem, '-', digits
  const char* dash = std::strchr(word, '-');
  if (!dash || dash[1] != '-') return C_MODULE;
  long long number = 0;
  for (const char* p = dash + 2; *p; ++p) {
    if (*p < '0' || *p > '9') return C_MODULE;
    number = number * 10 + (*p - '0');
    if (number > INT_MAX) number = INT_MAX;
  }
  class_number = static_cast<int>(number);

  size_t stem_len = static_cast<size_t>(dash - word) + 1;
  if (stem_len > kMaxStem) return C_MODULE;
  char stem[kMaxStem + 1];
  std::memcpy(stem, word, stem_len);
  stem[stem_len] = 0;
  code = screen(stem, table);
  if (code == C_MODULE) return C_MODULE;

  if (!number_ok(code, class_number)) quit(1);
  return code;
}

int pin_type_f(const char* pin, int cls) {
  int dir = 0;
  switch (cls) {
    case C_INV:
      dir = !std::strcmp(pin, "in") ? K_INPUT : !std::strcmp(pin, "nout") ? K_OUTPUT : 0;
      break;
    case C_NINV:
      dir = !std::strcmp(pin, "in") ? K_INPUT : !std::strcmp(pin, "out") ? K_OUTPUT : 0;
      break;
    case C_AND:
    case C_OR:
      dir = !std::strcmp(pin, "out") ? K_OUTPUT : K_INPUT;
      break;
    case C_NAND:
    case C_NOR:
    case C_AOI:
    case C_OAI:
      dir = !std::strcmp(pin, "nout") ? K_OUTPUT : K_INPUT;
      break;
    case C_EOR:
      dir = one_of(pin, {"in1", "in2"}) ? K_INPUT : !std::strcmp(pin, "out") ? K_OUTPUT : 0;
      break;
    case C_ENOR:
      dir = one_of(pin, {"in1", "in2"}) ? K_INPUT : !std::strcmp(pin, "nout") ? K_OUTPUT : 0;
      break;
    case C_REG:
    case C_REGR:
    case C_REGS:
    case C_REG_1:
      dir = one_of(pin, {"in", "clk_enb", "m_clock", "s_clock", "p_reset"}) ? K_INPUT
            : one_of(pin, {"out", "nout"})                                   ? K_OUTPUT
                                                                             : 0;
      break;
    case C_REG_SR:
      dir = one_of(pin, {"set", "reset", "m_clock", "s_clock", "p_reset"}) ? K_INPUT
            : one_of(pin, {"out", "nout"})                                 ? K_OUTPUT
                                                                           : 0;
      break;
    case C_SREG:
    case C_SRGR:
    case C_SRGS:
    case C_SREG_1:
      dir = one_of(pin, {"in", "scan_in", "clk_enb", "scan_enb", "m_clock", "s_clock",
                         "scan_clock", "p_reset"})
                ? K_INPUT
            : one_of(pin, {"out", "nout", "scan_out"}) ? K_OUTPUT
                                                       : 0;
      break;
    case C_SREG_SR:
      dir = one_of(pin, {"set", "reset", "scan_in", "scan_enb", "m_clock", "s_clock",
                         "scan_clock", "p_reset"})
                ? K_INPUT
            : one_of(pin, {"out", "nout", "scan_out"}) ? K_OUTPUT
                                                       : 0;
      break;
    case C_HIGH:
      dir = !std::strcmp(pin, "out") ? K_OUTPUT : 0;
      break;
    case C_LOW:
      dir = !std::strcmp(pin, "nout") ? K_OUTPUT : 0;
      break;
    case C_TS_BUF:
      dir = one_of(pin, {"in", "nenb"}) ? K_INPUT : !std::strcmp(pin, "out") ? K_TRISTATE : 0;
      break;
    case C_BGATE:
      dir = one_of(pin, {"enb", "clock"}) ? K_INPUT : !std::strcmp(pin, "nout") ? K_OUTPUT : 0;
      break;
    case C_MODULE:
      dir = C_MODULE;
      break;
    default:
      break;
  }
  if (!dir) quit(1);
  return dir;
}

}  // namespace vorq
