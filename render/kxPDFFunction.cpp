#include "render/kxPDFFunction.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <string>

#include "pdf/kxCstPDFDoc.h"
#include "pdf/kxPDFLexer.h"

namespace pw {

namespace {

constexpr int kMaxDepth = 8;
// What one function of a tree costs against its sample budget besides its samples.
constexpr size_t kFunctionCost = 1024;
constexpr size_t kMaxStack = 100;
constexpr size_t kMaxProgram = 65536;

std::vector<double> Numbers(TkxCustomPDFDocument& doc, TkxPDFObject* obj) {
  std::vector<double> out;
  if (const TkxPDFArrayObject* a = AsArray(doc.Resolve(obj))) {
    for (int i = 0; i < a->Count() && i < 1024; ++i) {
      const double v = NumberValue(doc.Resolve(a->Get(i)), 0);
      out.push_back(std::isfinite(v) ? v : 0);
    }
  }
  return out;
}

double Interpolate(double x, double xmin, double xmax, double ymin, double ymax) {
  if (xmax == xmin) return ymin;
  return ymin + (x - xmin) * (ymax - ymin) / (xmax - xmin);
}

class TkxSampledFunction : public TkxPDFFunction {
 public:
  std::vector<int> Size;
  int BitsPerSample = 8;
  std::vector<double> Encode, Decode;
  std::vector<double> Samples;  // normalised 0..1, outputs interleaved
  int N = 1;

  int Outputs() const override { return N; }
  std::vector<double> Evaluate(const std::vector<double>& in) const override {
    const int m = Inputs();
    // Multilinear interpolation over the 2^m corners (m is small).
    std::vector<double> e(m);
    std::vector<int> i0(m);
    std::vector<double> frac(m);
    for (int i = 0; i < m; ++i) {
      const double x = ClipIn(i < int(in.size()) ? in[i] : 0, i);
      double v = Interpolate(x, Domain[2 * i], Domain[2 * i + 1], Encode[2 * i], Encode[2 * i + 1]);
      v = std::clamp(v, 0.0, double(Size[i] - 1));
      i0[i] = std::min(int(v), std::max(Size[i] - 2, 0));
      frac[i] = Size[i] > 1 ? v - i0[i] : 0;
    }
    std::vector<double> out(N, 0.0);
    const int corners = 1 << std::min(m, 8);
    for (int c = 0; c < corners; ++c) {
      double weight = 1;
      size_t index = 0, stride = 1;
      for (int i = 0; i < m; ++i) {
        const bool hi = (c >> i) & 1;
        if (hi && Size[i] == 1) {
          weight = 0;
          break;
        }
        weight *= hi ? frac[i] : 1 - frac[i];
        index += size_t(i0[i] + (hi ? 1 : 0)) * stride;
        stride *= size_t(Size[i]);
      }
      if (weight == 0) continue;
      for (int j = 0; j < N; ++j) out[j] += weight * Samples[index * N + j];
    }
    for (int j = 0; j < N; ++j) out[j] = Interpolate(out[j], 0, 1, Decode[2 * j], Decode[2 * j + 1]);
    ClipOut(out);
    return out;
  }
};

class TkxExponentialFunction : public TkxPDFFunction {
 public:
  std::vector<double> C0{0}, C1{1};
  double Exponent = 1;
  int Outputs() const override { return static_cast<int>(C0.size()); }
  std::vector<double> Evaluate(const std::vector<double>& in) const override {
    const double x = ClipIn(in.empty() ? 0 : in[0], 0);
    const double p = std::pow(x, Exponent);
    std::vector<double> out(C0.size());
    for (size_t j = 0; j < C0.size(); ++j) out[j] = C0[j] + (std::isfinite(p) ? p : 0) * (C1[j] - C0[j]);
    ClipOut(out);
    return out;
  }
  bool PiecewiseLinear(std::vector<double>& knots) const override {
    if (Exponent != 1 || Domain.size() != 2 || C1.size() != C0.size()) return false;
    for (size_t j = 0; j < Range.size() / 2 && j < C0.size(); ++j)
      if (std::min(C0[j], C1[j]) < Range[2 * j] || std::max(C0[j], C1[j]) > Range[2 * j + 1]) return false;
    knots.push_back(Domain[0]);
    knots.push_back(Domain[1]);
    return true;
  }
};

class TkxStitchingFunction : public TkxPDFFunction {
 public:
  std::vector<std::unique_ptr<TkxPDFFunction>> Functions;
  std::vector<double> Bounds, Encode;
  int Outputs() const override { return Functions.empty() ? 0 : Functions.front()->Outputs(); }
  std::vector<double> Evaluate(const std::vector<double>& in) const override {
    const double x = ClipIn(in.empty() ? 0 : in[0], 0);
    size_t k = 0;
    while (k < Bounds.size() && x >= Bounds[k]) ++k;
    const double lo = k == 0 ? Domain[0] : Bounds[k - 1];
    const double hi = k == Bounds.size() ? Domain[1] : Bounds[k];
    const double v = Interpolate(x, lo, hi, Encode[2 * k], Encode[2 * k + 1]);
    std::vector<double> out = Functions[k]->Evaluate({v});
    ClipOut(out);
    return out;
  }
  bool PiecewiseLinear(std::vector<double>& knots) const override {
    if (!Range.empty() || Domain.size() != 2 || Encode.size() < 2 * (Bounds.size() + 1) ||
        Functions.size() < Bounds.size() + 1)
      return false;
    for (size_t k = 0; k <= Bounds.size(); ++k) {
      const double lo = k == 0 ? Domain[0] : Bounds[k - 1];
      const double hi = k == Bounds.size() ? Domain[1] : Bounds[k];
      const double e0 = Encode[2 * k], e1 = Encode[2 * k + 1];
      std::vector<double> inner;
      if (!Functions[k]->PiecewiseLinear(inner)) return false;
      knots.push_back(lo);
      knots.push_back(hi);
      // The piece's bends, taken back through its encoding.
      if (e1 != e0)
        for (double b : inner) {
          const double x = lo + (b - e0) * (hi - lo) / (e1 - e0);
          if (x > std::min(lo, hi) && x < std::max(lo, hi)) knots.push_back(x);
        }
    }
    return true;
  }
};

// ---- PostScript calculator -------------------------------------------------------------

enum Op : int {
  opPush,
  opJumpIfFalse,
  opJump,
  opAbs,
  opAdd,
  opAtan,
  opCeiling,
  opCos,
  opCvi,
  opCvr,
  opDiv,
  opExp,
  opFloor,
  opIdiv,
  opLn,
  opLog,
  opMod,
  opMul,
  opNeg,
  opRound,
  opSin,
  opSqrt,
  opSub,
  opTruncate,
  opAnd,
  opBitshift,
  opEq,
  opFalse,
  opGe,
  opGt,
  opLe,
  opLt,
  opNe,
  opNot,
  opOr,
  opTrue,
  opXor,
  opCopy,
  opDup,
  opExch,
  opIndex,
  opPop,
  opRoll
};

struct Instr {
  Op Code;
  double Value = 0;  // opPush: the number; jumps: the target
};

struct OpName {
  const char* Name;
  Op Code;
};
constexpr OpName kOps[] = {
    {"abs", opAbs},
    {"add", opAdd},
    {"atan", opAtan},
    {"ceiling", opCeiling},
    {"cos", opCos},
    {"cvi", opCvi},
    {"cvr", opCvr},
    {"div", opDiv},
    {"exp", opExp},
    {"floor", opFloor},
    {"idiv", opIdiv},
    {"ln", opLn},
    {"log", opLog},
    {"mod", opMod},
    {"mul", opMul},
    {"neg", opNeg},
    {"round", opRound},
    {"sin", opSin},
    {"sqrt", opSqrt},
    {"sub", opSub},
    {"truncate", opTruncate},
    {"and", opAnd},
    {"bitshift", opBitshift},
    {"eq", opEq},
    {"false", opFalse},
    {"ge", opGe},
    {"gt", opGt},
    {"le", opLe},
    {"lt", opLt},
    {"ne", opNe},
    {"not", opNot},
    {"or", opOr},
    {"true", opTrue},
    {"xor", opXor},
    {"copy", opCopy},
    {"dup", opDup},
    {"exch", opExch},
    {"index", opIndex},
    {"pop", opPop},
    {"roll", opRoll},
};

// Appends a procedure body, moving its jump targets along with it.
void Append(std::vector<Instr>& code, const std::vector<Instr>& body) {
  const double base = double(code.size());
  for (Instr in : body) {
    if (in.Code == opJump || in.Code == opJumpIfFalse) in.Value += base;
    code.push_back(in);
  }
}

class Compiler {
 public:
  explicit Compiler(const std::string& s) : s_(s) {}
  // The whole program "{ ... }".
  bool Program(std::vector<Instr>& code) {
    Skip();
    if (pos_ >= s_.size() || s_[pos_] != '{') return false;
    ++pos_;
    return Block(code, 0);
  }

 private:
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(s_.data()); }
  void Skip() { pdfscan::SkipWhiteAndComments(Bytes(), s_.size(), pos_); }
  // Instructions up to the matching "}"; procedures are kept for if/ifelse.
  bool Block(std::vector<Instr>& code, int depth) {
    if (depth > 32) return false;
    std::vector<std::vector<Instr>> procs;  // pending procedure bodies
    while (true) {
      Skip();
      if (pos_ >= s_.size() || code.size() > kMaxProgram) return false;
      const char c = s_[pos_];
      if (c == '}') {
        ++pos_;
        return procs.empty();
      }
      if (c == '{') {
        ++pos_;
        std::vector<Instr> body;
        if (!Block(body, depth + 1)) return false;
        procs.push_back(std::move(body));
        continue;
      }
      const std::string_view word = pdfscan::Word(Bytes(), s_.size(), pos_);
      if (word.empty()) return false;
      if (word == "if") {
        if (procs.size() != 1) return false;
        const size_t jump = code.size();
        code.push_back({opJumpIfFalse});
        Append(code, procs[0]);
        code[jump].Value = double(code.size());
        procs.clear();
        continue;
      }
      if (word == "ifelse") {
        if (procs.size() != 2) return false;
        const size_t jump = code.size();
        code.push_back({opJumpIfFalse});
        Append(code, procs[0]);
        const size_t skip = code.size();
        code.push_back({opJump});
        code[jump].Value = double(code.size());
        Append(code, procs[1]);
        code[skip].Value = double(code.size());
        procs.clear();
        continue;
      }
      if (!procs.empty()) return false;
      bool found = false;
      for (const OpName& o : kOps)
        if (word == o.Name) code.push_back({o.Code}), found = true;
      if (found) continue;
      // Numbers are read with "." as the decimal mark whatever the locale;
      // PostScript allows an exponent.
      const std::string_view digits = word[0] == '+' ? word.substr(1) : word;
      double v = 0;
      const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (ec != std::errc() || end != digits.data() + digits.size() || !std::isfinite(v)) return false;
      code.push_back({opPush, v});
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
};

bool Execute(const std::vector<Instr>& code, std::vector<double>& st) {
  auto need = [&](size_t n) { return st.size() >= n; };
  size_t steps = 0;
  for (size_t pc = 0; pc < code.size(); ++pc) {
    if (++steps > 100000 || st.size() > kMaxStack) return false;
    const Instr& in = code[pc];
    double a = 0, b = 0;
    switch (in.Code) {
      case opPush: st.push_back(in.Value); break;
      case opJumpIfFalse:
        if (!need(1)) return false;
        a = st.back(), st.pop_back();
        if (a == 0) pc = size_t(in.Value) - 1;
        break;
      case opJump: pc = size_t(in.Value) - 1; break;
      case opTrue: st.push_back(1); break;
      case opFalse: st.push_back(0); break;
      case opAbs:
      case opCeiling:
      case opCos:
      case opCvi:
      case opCvr:
      case opFloor:
      case opLn:
      case opLog:
      case opNeg:
      case opRound:
      case opSin:
      case opSqrt:
      case opTruncate:
      case opNot:
      case opDup:
      case opPop: {
        if (!need(1)) return false;
        double& x = st.back();
        switch (in.Code) {
          case opAbs: x = std::fabs(x); break;
          case opCeiling: x = std::ceil(x); break;
          case opCos: x = std::cos(x * std::numbers::pi / 180); break;
          case opCvi:
          case opTruncate: x = std::trunc(x); break;
          case opCvr: break;
          case opFloor: x = std::floor(x); break;
          case opLn: x = x > 0 ? std::log(x) : 0; break;
          case opLog: x = x > 0 ? std::log10(x) : 0; break;
          case opNeg: x = -x; break;
          case opRound: x = std::floor(x + 0.5); break;
          case opSin: x = std::sin(x * std::numbers::pi / 180); break;
          case opSqrt: x = x >= 0 ? std::sqrt(x) : 0; break;
          case opNot: x = (x == 0 || x == 1) ? (x == 0 ? 1 : 0) : double(~int64_t(x)); break;
          case opDup: st.push_back(x); break;
          case opPop: st.pop_back(); break;
          default: break;
        }
        break;
      }
      case opCopy: {
        if (!need(1)) return false;
        const int64_t n = int64_t(st.back());
        st.pop_back();
        if (n < 0 || !need(size_t(n)) || st.size() + size_t(n) > kMaxStack) return false;
        const size_t from = st.size() - size_t(n);
        for (int64_t i = 0; i < n; ++i) st.push_back(st[from + size_t(i)]);
        break;
      }
      case opIndex: {
        if (!need(1)) return false;
        const int64_t n = int64_t(st.back());
        st.pop_back();
        if (n < 0 || !need(size_t(n) + 1)) return false;
        st.push_back(st[st.size() - 1 - size_t(n)]);
        break;
      }
      case opRoll: {
        if (!need(2)) return false;
        const int64_t j = int64_t(st.back());
        st.pop_back();
        const int64_t n = int64_t(st.back());
        st.pop_back();
        if (n < 0 || !need(size_t(n))) return false;
        if (n == 0) break;
        int64_t shift = j % n;
        if (shift < 0) shift += n;
        std::rotate(st.end() - n, st.end() - shift, st.end());
        break;
      }
      default: {
        if (in.Code == opExch) {
          if (!need(2)) return false;
          std::swap(st[st.size() - 1], st[st.size() - 2]);
          break;
        }
        if (!need(2)) return false;
        b = st.back(), st.pop_back();
        a = st.back(), st.pop_back();
        double r = 0;
        const int64_t ia = int64_t(a), ib = int64_t(b);
        switch (in.Code) {
          case opAdd: r = a + b; break;
          case opSub: r = a - b; break;
          case opMul: r = a * b; break;
          case opDiv: r = b != 0 ? a / b : 0; break;
          case opIdiv: r = ib != 0 ? double(ia / ib) : 0; break;
          case opMod: r = ib != 0 ? double(ia % ib) : 0; break;
          case opAtan: {
            r = std::atan2(a, b) * 180 / std::numbers::pi;
            if (r < 0) r += 360;
            break;
          }
          case opExp: r = std::pow(a, b); break;
          case opAnd: r = double(ia & ib); break;
          case opOr: r = double(ia | ib); break;
          case opXor: r = double(ia ^ ib); break;
          case opBitshift:
            r = ib >= 0 ? double(ia << std::min<int64_t>(ib, 62)) : double(ia >> std::min<int64_t>(-ib, 62));
            break;
          case opEq: r = a == b; break;
          case opNe: r = a != b; break;
          case opGe: r = a >= b; break;
          case opGt: r = a > b; break;
          case opLe: r = a <= b; break;
          case opLt: r = a < b; break;
          default: return false;
        }
        st.push_back(std::isfinite(r) ? r : 0);
        break;
      }
    }
  }
  return true;
}

class TkxCalculatorFunction : public TkxPDFFunction {
 public:
  std::vector<Instr> Code;
  std::vector<double> Evaluate(const std::vector<double>& in) const override {
    std::vector<double> st;
    for (int i = 0; i < Inputs(); ++i) st.push_back(ClipIn(i < int(in.size()) ? in[i] : 0, i));
    std::vector<double> out(Outputs(), 0.0);
    if (Execute(Code, st)) {
      const size_t n = out.size();
      for (size_t j = 0; j < n && j < st.size(); ++j) out[n - 1 - j] = st[st.size() - 1 - j];
    }
    ClipOut(out);
    return out;
  }
};

}  // namespace

double TkxPDFFunction::ClipIn(double v, int i) const {
  if (!std::isfinite(v)) v = 0;
  if (2 * i + 1 >= int(Domain.size())) return v;
  return std::clamp(v, std::min(Domain[2 * i], Domain[2 * i + 1]), std::max(Domain[2 * i], Domain[2 * i + 1]));
}

void TkxPDFFunction::ClipOut(std::vector<double>& out) const {
  for (size_t j = 0; j < out.size(); ++j) {
    if (!std::isfinite(out[j])) out[j] = 0;
    if (2 * j + 1 < Range.size())
      out[j] = std::clamp(out[j], std::min(Range[2 * j], Range[2 * j + 1]), std::max(Range[2 * j], Range[2 * j + 1]));
  }
}

bool RunCalculator(const std::string& program, std::vector<double>& stack) {
  std::vector<Instr> code;
  Compiler c(program);
  if (!c.Program(code)) return false;
  return Execute(code, stack);
}

std::unique_ptr<TkxPDFFunction> TkxPDFFunction::Load(TkxCustomPDFDocument& doc, TkxPDFObject* obj, int depth,
                                                     size_t maxSamples) {
  size_t budget = maxSamples;
  return LoadWithin(doc, obj, depth, budget);
}

// budget: what is left for the whole tree of functions, in sample entries.
std::unique_ptr<TkxPDFFunction> TkxPDFFunction::LoadWithin(TkxCustomPDFDocument& doc, TkxPDFObject* obj, int depth,
                                                           size_t& budget) {
  if (depth > kMaxDepth || budget < kFunctionCost) return nullptr;
  budget -= kFunctionCost;
  TkxPDFObject* resolved = doc.Resolve(obj);
  const TkxPDFStreamObject* stream = AsStream(resolved);
  const TkxPDFDictObject* dict = stream ? stream->Dict.get() : AsDict(resolved);
  if (!dict) return nullptr;
  auto get = [&](const char* key) { return doc.Resolve(dict->Lookup(key)); };
  const int64_t type = IntValue(get("/FunctionType"), -1);
  std::vector<double> domain = Numbers(doc, dict->Lookup("/Domain"));
  std::vector<double> range = Numbers(doc, dict->Lookup("/Range"));
  // Producers leave out the domain of the functions inside a shading's
  // stitching or array; [0 1] is what they mean.
  if (domain.empty()) domain = {0.0, 1.0};
  if (domain.size() % 2) return nullptr;
  if (range.size() % 2) range.pop_back();
  std::unique_ptr<TkxPDFFunction> f;
  try {
    switch (type) {
      case 0: {
        if (!stream || range.empty()) return nullptr;
        auto s = std::make_unique<TkxSampledFunction>();
        const int m = int(domain.size() / 2), n = int(range.size() / 2);
        if (m > 8) return nullptr;
        for (double v : Numbers(doc, dict->Lookup("/Size"))) s->Size.push_back(int(std::clamp(v, 1.0, 65535.0)));
        if (int(s->Size.size()) != m) return nullptr;
        s->BitsPerSample = int(IntValue(get("/BitsPerSample"), 8));
        const int bps = s->BitsPerSample;
        if (bps != 1 && bps != 2 && bps != 4 && bps != 8 && bps != 12 && bps != 16 && bps != 24 && bps != 32)
          return nullptr;
        s->Encode = Numbers(doc, dict->Lookup("/Encode"));
        if (int(s->Encode.size()) < 2 * m) {
          s->Encode.clear();
          for (int i = 0; i < m; ++i) s->Encode.push_back(0), s->Encode.push_back(s->Size[i] - 1);
        }
        s->Decode = Numbers(doc, dict->Lookup("/Decode"));
        if (int(s->Decode.size()) < 2 * n) s->Decode = range;
        s->N = n;
        size_t count = size_t(n);
        for (int sz : s->Size) {
          count *= size_t(sz);
          if (count > budget) return nullptr;
        }
        budget -= count;
        const std::vector<uint8_t> data = doc.DecodeStream(*stream);
        s->Samples.assign(count, 0.0);
        const double maxv = std::ldexp(1.0, bps) - 1;
        uint64_t bitpos = 0;
        for (size_t k = 0; k < count; ++k) {
          uint64_t v = 0;
          for (int b = 0; b < bps; ++b, ++bitpos) {
            const size_t byte = size_t(bitpos >> 3);
            const int bit = byte < data.size() ? (data[byte] >> (7 - (bitpos & 7))) & 1 : 0;
            v = (v << 1) | uint64_t(bit);
          }
          s->Samples[k] = double(v) / maxv;
        }
        f = std::move(s);
        break;
      }
      case 2: {
        auto e = std::make_unique<TkxExponentialFunction>();
        std::vector<double> c0 = Numbers(doc, dict->Lookup("/C0")), c1 = Numbers(doc, dict->Lookup("/C1"));
        if (!c0.empty()) e->C0 = c0;
        if (!c1.empty()) e->C1 = c1;
        if (e->C0.size() != e->C1.size()) return nullptr;
        e->Exponent = NumberValue(get("/N"), 1);
        f = std::move(e);
        break;
      }
      case 3: {
        auto st = std::make_unique<TkxStitchingFunction>();
        const TkxPDFArrayObject* fs = AsArray(get("/Functions"));
        if (!fs || fs->Count() == 0 || fs->Count() > 256) return nullptr;
        for (int i = 0; i < fs->Count(); ++i) {
          auto sub = LoadWithin(doc, fs->Get(i), depth + 1, budget);
          if (!sub) return nullptr;
          st->Functions.push_back(std::move(sub));
        }
        st->Bounds = Numbers(doc, dict->Lookup("/Bounds"));
        st->Encode = Numbers(doc, dict->Lookup("/Encode"));
        const size_t k = st->Functions.size();
        if (st->Bounds.size() + 1 != k || st->Encode.size() < 2 * k) return nullptr;
        f = std::move(st);
        break;
      }
      case 4: {
        if (!stream || range.empty()) return nullptr;
        const std::vector<uint8_t> data = doc.DecodeStream(*stream);
        auto c = std::make_unique<TkxCalculatorFunction>();
        const std::string source(data.begin(), data.end());  // the compiler keeps a reference
        Compiler comp(source);
        if (!comp.Program(c->Code)) return nullptr;
        f = std::move(c);
        break;
      }
      default: return nullptr;
    }
  } catch (const Exception&) {
    return nullptr;
  }
  f->Domain = std::move(domain);
  f->Range = std::move(range);
  return f;
}

}  // namespace pw
