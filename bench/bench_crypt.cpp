// Cost of a password try per handler, and decryption throughput of stream
// data with RC4, AES-128 and AES-256 object keys.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "pdf/kxPDFCrypt.h"

using namespace pw;

namespace {

std::string Hex(std::string_view digits) {
  std::string out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(std::string(digits.substr(i, 2)), nullptr, 16)));
  return out;
}

struct Handler {
  int v, r, length;
  const char *cfm, *o, *u, *oe, *ue, *perms, *password;
};

// Values of files made by a common writer (file identifier 00112233...eeff).
const Handler kHandlers[] = {
    {1, 2, 40, nullptr, "94e8094419662a774442fb072e3d9f19e9d130ec09a4d0061e78fe920f7ab62f",
     "b1f625689bca1356d125453c43cfa750c0296b5c271c03f1cc359fa658a4fa21", nullptr, nullptr, nullptr, "user"},
    {2, 3, 128, nullptr, "0ba3835f88f90388e74e54584125ce142be0de24c6b0d37746e075b891756671",
     "d798239dd347dc3afe3dd10515bb58430122456a91bae5134273a6db134c87c4", nullptr, nullptr, nullptr, "user"},
    {4, 4, 128, "AESV2", "0ba3835f88f90388e74e54584125ce142be0de24c6b0d37746e075b891756671",
     "d798239dd347dc3afe3dd10515bb58430122456a91bae5134273a6db134c87c4", nullptr, nullptr, nullptr, "user"},
    {5, 6, 256, "AESV3",
     "d1ca6a01867f696f108a1350094aedfc47ecd31bfa0eb695f8e93cbb6b8bc47226194fdc198d5aba5f37868175f3178d",
     "8e5191a1ed960c49071b4d281cff19134e2c117394ff357d3102fae9b022ef3b12117031f056f9f008297992806c5ad5",
     "6c1a1b24965e7e596e847ad9e60831f3667cd4cb945b128f015af475c88474cc",
     "946f8c23111a0549734db5a070a24d5320bede9f2be6bba40b4a5394674204eb", "1bf589c47f9b05086c3fd6fc5b2e6015",
     "p\xc3\xa4ssw\xc3\xb6rd"},
};

TkxPDFDecrypt MakeDecryptor(const Handler& h) {
  TkxPDFDictObject d;
  d.AddName("/Filter", "/Standard");
  d.AddInteger("/V", h.v);
  d.AddInteger("/R", h.r);
  d.AddInteger("/Length", h.length);
  d.AddInteger("/P", -4);
  auto str = [](const char* hex) { return std::make_unique<TkxPDFStringObject>(std::string("<") + hex + ">", true); };
  d.AddObject("/O", str(h.o));
  d.AddObject("/U", str(h.u));
  if (h.oe) d.AddObject("/OE", str(h.oe));
  if (h.ue) d.AddObject("/UE", str(h.ue));
  if (h.perms) d.AddObject("/Perms", str(h.perms));
  if (h.cfm) {
    auto f = std::make_unique<TkxPDFDictObject>();
    f->AddName("/CFM", std::string("/") + h.cfm);
    auto cf = std::make_unique<TkxPDFDictObject>();
    cf->AddObject("/StdCF", std::move(f));
    d.AddObject("/CF", std::move(cf));
    d.AddName("/StmF", "/StdCF");
    d.AddName("/StrF", "/StdCF");
  }
  TkxPDFDecrypt dec;
  dec.Setup(d, Hex("00112233445566778899aabbccddeeff"));
  return dec;
}

// One accepted user-password try (owner check first, as the document does).
void BM_PasswordTry(benchmark::State& state) {
  const Handler& h = kHandlers[state.range(0)];
  TkxPDFDecrypt dec = MakeDecryptor(h);
  for (auto _ : state) benchmark::DoNotOptimize(dec.CheckPassword(h.password));
  state.SetLabel(dec.HandlerDescription());
}
BENCHMARK(BM_PasswordTry)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

void BM_DecryptStream(benchmark::State& state) {
  const Handler& h = kHandlers[state.range(0)];
  TkxPDFDecrypt dec = MakeDecryptor(h);
  if (!dec.CheckPassword(h.password)) {
    state.SkipWithError("password not accepted");
    return;
  }
  std::vector<uint8_t> data(4 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
  int32_t obj = 1;
  for (auto _ : state) benchmark::DoNotOptimize(dec.DecryptStream(data, obj++, 0));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.SetLabel(dec.HandlerDescription());
}
BENCHMARK(BM_DecryptStream)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
