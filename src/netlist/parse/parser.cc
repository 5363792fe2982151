// The forms of an NLD or PCD file, read into one Module.
#include "netlist/parse/parse.h"

namespace vorq {

namespace {

[[noreturn]] void syntax_error() {
  say("\"%s\", line %d: error\n", file_name ? file_name : "", lineno);
  quit(1);
}

void expect_word(Reader& in) {
  if (nld_lex(in) != T_WORD) syntax_error();
}

}  // namespace

// ---- simple forms ---------------------------------------------------------

Module* def_module(Reader& in) {
  lineno = 1;
  paren_depth = 1;
  if (nld_lex(in) != T_OPEN) syntax_error();
  expect_word(in);
  if (screen(buf, TABLE_KEYWORD) != K_DEF_MODULE) syntax_error();
  expect_word(in);
  Module* m = make<Module>();
  m->name = arena_strdup(buf);
  return m;
}

void paren_count(Reader& in) {
  // an explicit depth: skipped forms may nest arbitrarily deep
  long depth = 1;
  while (depth > 0) {
    switch (nld_lex(in)) {
      case T_EOF:
        say("\"%s\", line %d: too many )'s\n", file_name ? file_name : "", lineno);
        quit(1);
      case T_OPEN:
        ++depth;
        break;
      case T_CLOSE:
        --depth;
        break;
      default:
        break;
    }
  }
  --paren_depth;
}

int read_digit(Reader& in) {
  int t = nld_lex(in);
  if (t == T_WORD) {
    t = nld_lex(in);
    if (t != T_DOT) return t;
  } else if (t != T_DOT) {
    quit(1);
  }
  if (nld_lex(in) != T_WORD) quit(1);
  return nld_lex(in);
}

int pin_type_note(Reader& in) {
  expect_word(in);
  int code = screen(buf, TABLE_KEYWORD);
  if (code == C_MODULE) syntax_error();
  return code;
}

// ---- def-pin, def-comp, def-net ------------------------------------------

void def_pin(Reader& in, Module* m, int mode) {
  expect_word(in);
  Pin* pin = make<Pin>();
  pin->cls = C_PIN;
  pin->name = arena_strdup(buf);
  pin->owner = m;
  pin->next = m->pins;
  m->pins = pin;
  in.pins.put(pin);

  bool typed = false;
  int t = nld_lex(in);
  while (t != T_CLOSE) {
    if (t != T_WORD) syntax_error();
    switch (screen(buf, TABLE_KEYWORD)) {
      case K_TYPE:
        if (typed) quit(1);
        pin->dir = pin_type_note(in);
        typed = true;
        t = nld_lex(in);
        break;
      case K_NOTE:
        pin->note = pin_type_note(in);
        t = nld_lex(in);
        break;
      case K_LOAD:
        if (mode != MODE_PCD) syntax_error();
        t = read_digit(in);
        break;
      default:
        syntax_error();
    }
  }
  if (!typed) quit(1);
  --paren_depth;
}

void def_comp(Reader& in, Module* m) {
  expect_word(in);
  int code = class_f(buf, TABLE_PCD);
  if (is_xor_class(code)) eor_enor_exist = 1;
  if (is_register_class(code)) reg_exist = 1;
  char* class_name = code == C_MODULE ? arena_strdup(buf) : nullptr;
  uint8_t width = static_cast<uint8_t>(class_number & 0xff);

  int t = nld_lex(in);
  for (; t == T_WORD; t = nld_lex(in)) {
    Instance* inst = make<Instance>();
    inst->cls = code;
    inst->width = width;
    inst->class_name = class_name;
    inst->name = arena_strdup(buf);
    inst->owner = m;
    inst->next = m->insts;
    m->insts = inst;
    in.insts.put(inst);
    if (code == C_INV) ++first_inv_num;
  }
  if (t != T_CLOSE) syntax_error();
  --paren_depth;
}

void def_net(Reader& in, Module* m) {
  char word[sizeof buf];
  Net* net = make<Net>();
  net->next = m->nets;
  m->nets = net;

  int t = nld_lex(in);
  while (t != T_CLOSE) {
    if (t != T_WORD) syntax_error();
    Node* node = make<Node>();
    node->net = net;
    node->next = net->nodes;
    net->nodes = node;

    // a port of the module
    if (Pin* pin = in.pins.find(buf, in.word_len)) {
      node->target = pin;
      node->pin_name = pin->name;
      node->dir = pin->dir;
      pin->node = node;
      t = nld_lex(in);
      continue;
    }

    // instance '.' pin; the instance is looked up once the pin is read
    size_t len = in.word_len;
    std::memcpy(word, buf, len + 1);
    uint64_t h = in.insts.hash(word, len);
    in.insts.prefetch(h);
    if (nld_lex(in) != T_DOT) syntax_error();
    expect_word(in);
    Instance* inst = in.insts.find(word, len, h);
    if (!inst) {
      say("\"%s\", line %d: %s undefined\n", file_name ? file_name : "", lineno, word);
      quit(1);
    }
    node->target = inst;
    node->pin_name = arena_strdup(buf);
    node->dir = pin_type_f(node->pin_name, inst->cls);
    inst->node = node;
    t = nld_lex(in);
  }
  --paren_depth;
}

// ---- files ----------------------------------------------------------------

Module* nld_par(Reader& in) {
  // room for the instances a file of this size usually declares
  in.insts.reserve(in.file_size() / 64);
  Module* m = def_module(in);
  for (int t = nld_lex(in);; t = nld_lex(in)) {
    if (t == T_EOF) return m;
    if (paren_depth == 0) syntax_error();
    if (t == T_CLOSE) {
      --paren_depth;
      continue;
    }
    if (t != T_OPEN) syntax_error();
    ++paren_depth;
    expect_word(in);
    switch (screen(buf, TABLE_KEYWORD)) {
      case K_DEF_MODULE:
        syntax_error();
      case K_DEF_COMP:
        def_comp(in, m);
        break;
      case K_DEF_NET:
        def_net(in, m);
        break;
      case K_DEF_PIN:
        def_pin(in, m, MODE_NLD);
        break;
      default:
        paren_count(in);
        break;
    }
  }
}

Module* pcd_par(Reader& in) {
  Module* m = def_module(in);
  int t = nld_lex(in);
  for (;;) {
    if (t == T_EOF) return m;
    if (paren_depth == 0) syntax_error();
    if (t == T_CLOSE) {
      --paren_depth;
      t = nld_lex(in);
      continue;
    }

    // size words of the cell
    if (t == T_WORD) {
      switch (screen(buf, TABLE_KEYWORD)) {
        case K_POWER:
        case K_AREA:
        case K_GATES:
          t = read_digit(in);
          continue;
        case K_CELL_NAME:
          if (nld_lex(in) != T_WORD) quit(1);
          t = nld_lex(in);
          continue;
        default:
          syntax_error();
      }
    }

    if (t != T_OPEN) syntax_error();
    ++paren_depth;
    expect_word(in);
    switch (screen(buf, TABLE_KEYWORD)) {
      case K_DEF_MODULE:
        syntax_error();
      case K_DEF_PIN:
        def_pin(in, m, MODE_PCD);
        break;
      default:
        paren_count(in);
        break;
    }
    t = nld_lex(in);
  }
}

Module* nld_par(FILE* f) {
  Reader in(f);
  return nld_par(in);
}

Module* pcd_par(FILE* f) {
  Reader in(f);
  return pcd_par(in);
}

}  // namespace vorq
