// The and-inverter graph with structural hashing, its three-valued
// operators, 64-pattern simulation and the AIGER writer.
#include <algorithm>
#include <cstdio>

#include "equiv/equiv.h"

namespace vorq::equiv {

namespace {

uint64_t mix(uint64_t k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdull;
  k ^= k >> 33;
  k *= 0xc4ceb9fe1a85ec53ull;
  k ^= k >> 33;
  return k;
}

}  // namespace

// ---- graph --------------------------------------------------------------

Aig::Aig() {
  fanin0_.push_back(0);  // the constant
  fanin1_.push_back(0);
  keys_.assign(1024, 0);
  vals_.assign(1024, 0);
}

Lit Aig::new_input() {
  fanin0_.push_back(INPUT_MARK);
  fanin1_.push_back(INPUT_MARK);
  return (num_vars() - 1) * 2;
}

uint32_t Aig::lookup(uint64_t key) const {
  size_t mask = keys_.size() - 1;
  for (size_t i = mix(key) & mask;; i = (i + 1) & mask) {
    if (keys_[i] == 0) return 0;
    if (keys_[i] == key) return vals_[i];
  }
}

void Aig::insert(uint64_t key, uint32_t var) {
  if ((used_ + 1) * 2 > keys_.size()) grow();
  size_t mask = keys_.size() - 1;
  for (size_t i = mix(key) & mask;; i = (i + 1) & mask)
    if (keys_[i] == 0) {
      keys_[i] = key;
      vals_[i] = var;
      ++used_;
      return;
    }
}

void Aig::grow() {
  std::vector<uint64_t> ok;
  std::vector<uint32_t> ov;
  ok.swap(keys_);
  ov.swap(vals_);
  keys_.assign(ok.size() * 2, 0);
  vals_.assign(ok.size() * 2, 0);
  size_t mask = keys_.size() - 1;
  for (size_t j = 0; j < ok.size(); ++j) {
    if (ok[j] == 0) continue;
    for (size_t i = mix(ok[j]) & mask;; i = (i + 1) & mask)
      if (keys_[i] == 0) {
        keys_[i] = ok[j];
        vals_[i] = ov[j];
        break;
      }
  }
}

Lit Aig::and2(Lit a, Lit b) {
  if (a > b) std::swap(a, b);
  // trivial cases
  if (a == LIT_FALSE) return LIT_FALSE;
  if (a == LIT_TRUE) return b;
  if (a == b) return a;
  if (a == lit_not(b)) return LIT_FALSE;
  uint64_t key = ((uint64_t(a) << 32) | b) + 1;
  if (uint32_t v = lookup(key)) return v * 2;
  fanin0_.push_back(a);
  fanin1_.push_back(b);
  ++num_ands_;
  uint32_t var = num_vars() - 1;
  insert(key, var);
  return var * 2;
}

Lit Aig::xor2(Lit a, Lit b) {
  // complements are taken out first, so that xor(!a, b) is !xor(a, b)
  Lit c = (a & 1u) ^ (b & 1u);
  a &= ~1u;
  b &= ~1u;
  if (a > b) std::swap(a, b);
  if (a == b) return c;
  if (a == LIT_FALSE) return b ^ c;
  Lit t1 = and2(a, lit_not(b));
  Lit t2 = and2(lit_not(a), b);
  return lit_not(and2(lit_not(t1), lit_not(t2))) ^ c;
}

Lit Aig::and_n(std::vector<Lit> lits) {
  std::sort(lits.begin(), lits.end());
  lits.erase(std::unique(lits.begin(), lits.end()), lits.end());
  Lit r = LIT_TRUE;
  for (size_t i = 0; i < lits.size(); ++i) {
    if (lits[i] == LIT_FALSE) return LIT_FALSE;
    if (i + 1 < lits.size() && lits[i + 1] == lit_not(lits[i])) return LIT_FALSE;
  }
  // balanced, so that wide conjunctions stay shallow
  while (lits.size() > 1) {
    std::vector<Lit> next;
    for (size_t i = 0; i + 1 < lits.size(); i += 2) next.push_back(and2(lits[i], lits[i + 1]));
    if (lits.size() % 2) next.push_back(lits.back());
    lits.swap(next);
  }
  if (!lits.empty()) r = and2(r, lits[0]);
  return r;
}

Lit Aig::or_n(std::vector<Lit> lits) {
  for (Lit& l : lits) l = lit_not(l);
  return lit_not(and_n(std::move(lits)));
}

// ---- three-valued operators ----------------------------------------------

Sig sig_and(Aig& g, const std::vector<Sig>& in) {
  std::vector<Lit> vs, ds;
  for (const Sig& s : in) {
    vs.push_back(s.v);
    ds.push_back(s.d);
  }
  Sig r;
  r.v = g.and_n(vs);
  r.d = g.and_n(ds);
  if (r.d != LIT_TRUE) {
    // a defined 0 on any input defines the output
    std::vector<Lit> zero;
    for (const Sig& s : in) zero.push_back(g.and2(s.d, lit_not(s.v)));
    zero.push_back(r.d);
    r.d = g.or_n(zero);
  }
  return r;
}

Sig sig_or(Aig& g, const std::vector<Sig>& in) {
  std::vector<Sig> neg;
  for (const Sig& s : in) neg.push_back(sig_not(s));
  return sig_not(sig_and(g, neg));
}

Sig sig_xor(Aig& g, Sig a, Sig b) { return {g.xor2(a.v, b.v), g.and2(a.d, b.d)}; }

// ---- free values ----------------------------------------------------------

Lit FreeValues::get(const std::string& name) {
  auto it = by_name_.find(name);
  if (it != by_name_.end()) return it->second;
  Lit l = g_.new_input();
  by_name_.emplace(name, l);
  by_var_.emplace(lit_var(l), name);
  return l;
}

const std::string& FreeValues::name_of(uint32_t var) const {
  auto it = by_var_.find(var);
  return it == by_var_.end() ? none_ : it->second;
}

// ---- simulation -------------------------------------------------------------

std::vector<uint64_t> Aig::simulate(const std::vector<uint64_t>& input_bits) const {
  std::vector<uint64_t> sim(num_vars(), 0);
  for (uint32_t v = 1; v < num_vars(); ++v) {
    if (fanin0_[v] == INPUT_MARK) {
      sim[v] = v < input_bits.size() ? input_bits[v] : 0;
      continue;
    }
    sim[v] = value_of(sim, fanin0_[v]) & value_of(sim, fanin1_[v]);
  }
  return sim;
}

// ---- AIGER --------------------------------------------------------------------

namespace {

void put_varint(std::string& out, uint32_t x) {
  while (x >= 0x80) {
    out.push_back(static_cast<char>((x & 0x7f) | 0x80));
    x >>= 7;
  }
  out.push_back(static_cast<char>(x));
}

}  // namespace

std::vector<uint8_t> Aig::cone(Lit out) const {
  std::vector<uint8_t> in_cone(num_vars(), 0);
  std::vector<uint32_t> stack;
  if (lit_var(out) != 0) stack.push_back(lit_var(out));
  while (!stack.empty()) {
    uint32_t v = stack.back();
    stack.pop_back();
    if (in_cone[v]) continue;
    in_cone[v] = 1;
    if (fanin0_[v] == INPUT_MARK) continue;
    for (Lit f : {fanin0_[v], fanin1_[v]})
      if (lit_var(f) != 0 && !in_cone[lit_var(f)]) stack.push_back(lit_var(f));
  }
  return in_cone;
}

std::vector<uint32_t> Aig::support(Lit a) const {
  std::vector<uint8_t> in_cone = cone(a);
  std::vector<uint32_t> inputs;
  for (uint32_t v = 1; v < num_vars(); ++v)
    if (in_cone[v] && fanin0_[v] == INPUT_MARK) inputs.push_back(v);
  return inputs;
}

void Aig::write_aiger(const std::string& path, Lit out, std::vector<uint32_t>& inputs) const {
  std::vector<uint8_t> in_cone = cone(out);

  // inputs first, then the gates, both in variable order (which is topological)
  inputs.clear();
  std::vector<uint32_t> ands;
  for (uint32_t v = 1; v < num_vars(); ++v) {
    if (!in_cone[v]) continue;
    if (fanin0_[v] == INPUT_MARK)
      inputs.push_back(v);
    else
      ands.push_back(v);
  }
  std::vector<uint32_t> renum(num_vars(), 0);
  uint32_t next = 1;
  for (uint32_t v : inputs) renum[v] = next++;
  for (uint32_t v : ands) renum[v] = next++;
  auto map = [&](Lit l) { return renum[lit_var(l)] * 2 + (l & 1u); };

  std::string text;
  char head[128];
  std::snprintf(head, sizeof head, "aig %u %zu 0 1 %zu\n%u\n", next - 1, inputs.size(), ands.size(),
                map(out));
  text += head;
  for (uint32_t v : ands) {
    uint32_t lhs = renum[v] * 2;
    uint32_t r0 = map(fanin0_[v]), r1 = map(fanin1_[v]);
    if (r0 < r1) std::swap(r0, r1);
    put_varint(text, lhs - r0);
    put_varint(text, r0 - r1);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw CannotTell("cannot write " + path);
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) throw CannotTell("cannot write " + path);
}

}  // namespace vorq::equiv
