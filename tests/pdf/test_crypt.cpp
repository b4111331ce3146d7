#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <functional>

#include "pdf/kxMD5.h"
#include "pdf/kxPDFCrypt.h"
#include "pdf/kxRC4.h"

using namespace pw;

namespace {

std::string Hex(std::string_view digits) {
  std::string out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(std::string(digits.substr(i, 2)), nullptr, 16)));
  return out;
}

std::string ToHex(std::string_view bytes) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(d[c >> 4]);
    out.push_back(d[c & 15]);
  }
  return out;
}

// The values of an encryption dictionary as a writer stored them.
struct EncryptValues {
  int v, r, length;
  int64_t p;
  const char *o, *u;
  const char* cfm = nullptr;  // crypt filter method for /StdCF; null: no crypt filters
  int cfLength = 0;
  bool encryptMetadata = true;
  const char *oe = nullptr, *ue = nullptr, *perms = nullptr;
};

std::unique_ptr<TkxPDFDictObject> MakeDict(const EncryptValues& e) {
  auto d = std::make_unique<TkxPDFDictObject>();
  d->AddName("/Filter", "/Standard");
  d->AddInteger("/V", e.v);
  d->AddInteger("/R", e.r);
  if (e.length) d->AddInteger("/Length", e.length);
  d->AddInt64("/P", e.p);
  auto hexString = [](const char* digits) {
    return std::make_unique<TkxPDFStringObject>(std::string("<") + digits + ">", true);
  };
  d->AddObject("/O", hexString(e.o));
  d->AddObject("/U", hexString(e.u));
  if (e.oe) d->AddObject("/OE", hexString(e.oe));
  if (e.ue) d->AddObject("/UE", hexString(e.ue));
  if (e.perms) d->AddObject("/Perms", hexString(e.perms));
  if (e.cfm) {
    auto filter = std::make_unique<TkxPDFDictObject>();
    filter->AddName("/CFM", std::string("/") + e.cfm);
    if (e.cfLength) filter->AddInteger("/Length", e.cfLength);
    auto cf = std::make_unique<TkxPDFDictObject>();
    cf->AddObject("/StdCF", std::move(filter));
    d->AddObject("/CF", std::move(cf));
    d->AddName("/StmF", "/StdCF");
    d->AddName("/StrF", "/StdCF");
  }
  if (!e.encryptMetadata) d->AddObject("/EncryptMetadata", std::make_unique<TkxPDFBooleanObject>(false));
  return d;
}

// ---- MD5 and RC4 ----

TEST(Crypt, MD5KnownDigests) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [in, digest] : cases) EXPECT_EQ(ToHex(TkxMD5::HashString(in)), digest) << in;
}

TEST(Crypt, MD5MatchesReferenceAcrossBlockBoundariesAndSplitUpdates) {
  std::string data;
  for (int i = 0; i < 300; ++i) data.push_back(static_cast<char>(i * 7 + 3));
  for (size_t len = 0; len <= data.size(); ++len) {
    uint8_t ref[EVP_MAX_MD_SIZE];
    unsigned refLen = 0;
    ASSERT_EQ(EVP_Digest(data.data(), len, ref, &refLen, EVP_md5(), nullptr), 1);
    TkxMD5 md5;
    // Uneven pieces exercise the partial-block buffer.
    for (size_t pos = 0, step = 1; pos < len; pos += step, step = step * 3 % 67 + 1)
      md5.Update(data.data() + pos, std::min(step, len - pos));
    const TkxMD5::Digest got = md5.Final();
    ASSERT_EQ(ToHex(std::string_view(reinterpret_cast<const char*>(got.data()), 16)),
              ToHex(std::string_view(reinterpret_cast<const char*>(ref), refLen)))
        << "length " << len;
  }
}

TEST(Crypt, RC4KnownOutputsAndKeyLengths) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"Key", "Plaintext", "bbf316e8d940af0ad3"},
      {"Wiki", "pedia", "1021bf0420"},
      {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
  };
  for (const auto& [key, plain, cipher] : cases) {
    EXPECT_EQ(ToHex(TkxRC4::Crypt(key, plain)), cipher);
    EXPECT_EQ(TkxRC4::Crypt(key, Hex(cipher)), plain);
  }
  // The key stream continues across calls.
  TkxRC4 rc4("Secret");
  std::string msg = "Attack at dawn";
  rc4.Process(reinterpret_cast<uint8_t*>(msg.data()), 6);
  rc4.Process(reinterpret_cast<uint8_t*>(msg.data()) + 6, msg.size() - 6);
  EXPECT_EQ(ToHex(msg), "45a01f645fc35b383552544b9bf5");

  EXPECT_NO_THROW(TkxRC4(std::string(256, 'k')));
  for (size_t bad : {size_t(0), size_t(257)}) {
    try {
      TkxRC4 r(std::string(bad, 'k'));
      FAIL() << bad;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "RC4: Invalid key length");
    }
  }
}

// ---- password checks on the handlers of real files ----

struct HandlerCase {
  const char* name;
  EncryptValues enc;
  const char* fileId;
  const char* userPassword;
  const char* ownerPassword;  // null: unknown
  const char* fileKey;
  const char* description;
  TkxPDFEncryptionLevel level;
};

const HandlerCase kHandlers[] = {
    {"rc4-40-empty-user",
     {1, 2, 40, -64, "2055c756c72e1ad702608e8196acad447ad32d17cff583235f6dd15fed7dab67",
      "9e8e293e504292c520ee9f6a2a0e4857abef00b324b1041ac79a33f2cbde52a2"},
     "66d36a30a97e0f16f39955c6221e0c2a",
     "",
     "",
     "8d4aa87ff7",
     "RC4 40-bit",
     el40bit},
    {"rc4-40-baz-foo",
     {1, 2, 0, -4, "01a9f0cef28d00f8dfb0258f5ef0c55c9df7c816958f363100af77ec02262454",
      "694b9da2f809c77c72778cfbcac20481b27205d0e7d3226236828364666a9708"},
     "651a94feeb7868d312a97b377270860e",
     "baz",
     "foo",
     "115e6afda4",
     "RC4 40-bit",
     el40bit},
    {"rc4-128-view-master",
     {2, 3, 128, -3104, "1d1ff7011663408661b4e24dcc3db7f376f0fb37e02315869a2bc769442d356a",
      "b1b69d3ca429a6fa7a6f27d64de7cd5391f1dd59d88e5b6e5e0a7954217a8f78"},
     "66d36a30a97e0f16f39955c6221e0c2a",
     "view",
     "master",
     "6ed8aa237fd871aaafd96f3405d0cdd3",
     "RC4 128-bit",
     el128bit},
    {"rc4-128-writer",
     {2, 3, 128, -1028, "27ee85c8447a38715eae7d6003dc487619ca05a05b68b65eccaa26394df7169c",
      "8fc5f6b7b6105307bb68b58098b6884800000000000000000000000000000000"},
     "401d00642aa19414cca931828bf769b3",
     "openpassword",
     nullptr,
     "a00b076fe09db742602e800e57f0efac",
     "RC4 128-bit",
     el128bit},
    {"aes-128-empty-user",
     {4, 4, 128, -4, "36451bd39d753b7c1d10922c28e6665aa4f3353fb0348b536893e3b1db5c579b",
      "32c27288b9ec6a4fab94e6188828595c0122456a91bae5134273a6db134c87c4", "AESV2", 16},
     "66d36a30a97e0f16f39955c6221e0c2a",
     "",
     "",
     "474258b004f2ce0017adeb6e79574357",
     "AES-128",
     elAES128},
    {"aes-256-r5-baz-foo",
     {5, 5, 256, -4, "3914ac4773d5f42e773a182880bf6d3dea7dfbc9dcb2dc1dcd42199df579239d09c806ee2574a5023ba27e4b58ca58bc",
      "3bd7097f38c90b8ee63c7689b670dad5cb961e9519022517a6179c233a0701d61bdf62c5adc824a6b52795d557d09389", "AESV3", 32,
      false, "b7376ed0987c53d8a93dd76aa7aba0f89fe2a14e50a651bb7ae5917768136e3b",
      "5e2d465d5d69b6d89f3419ac3cac9d0a3af38e24c28520ab3b1f8aae42cbb2a3", "a5fab33b4a566c8ba97d7ae5e3da7b0b"},
     "651a94feeb7868d312a97b377270860e",
     "baz",
     "foo",
     "a32e940dc8bd05196e52d18d23ebabb47641f373dac4a81082dd1abd6c41674e",
     "AES-256",
     elAES256},
    {"aes-256-r6-view-master",
     {5, 6, 256, -3076,
      // /O and /U as that writer stored them: 127 bytes, zero after the 48 that count.
      "3dec4da2ebc9ce7f36a48ebb50c59692097cc73e60c02dd697ede933130337eb5d1eabe88863dd415f73175c9aa777be0000000000"
      "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000",
      "2fa09f7750947a91aa85899f3197fd0d88ff8ad743c962030fa4ae61662bcf632bd3a8dad2ea7bd18e696b705ee7bf5f0000000000"
      "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000",
      "AESV3", 32, true, "dbe23f220ee17fc7079a80fc8df67c450bb5f69d488ca607315e7102a3235aec",
      "03506811fe2544e3bbc945feaa9bba18fb4a96961e1056b20397cc3b6891d6cd", "711a56949c0f9f11307e8405063bcfed"},
     "7f25422ce0bde941bb4347fd74e2b041",
     "view",
     "master",
     "99b8c28eaeebac3fb51195ea44e41c7b9705cc982344ada5851daf808eb7d42f",
     "AES-256",
     elAES256},
};

class CryptHandler : public ::testing::TestWithParam<HandlerCase> {};

TEST_P(CryptHandler, UserAndOwnerPasswordsGiveTheFileKeyAndWrongOnesAreRejected) {
  const HandlerCase& c = GetParam();
  TkxPDFDecrypt d;
  d.Setup(*MakeDict(c.enc), Hex(c.fileId));
  EXPECT_EQ(d.HandlerDescription(), c.description);
  EXPECT_EQ(d.Level(), c.level);

  ASSERT_TRUE(d.CheckPassword(c.userPassword));
  EXPECT_EQ(ToHex(d.FileKey()), c.fileKey);
  // An empty user password may equal the owner password.
  if (!c.ownerPassword || std::string(c.ownerPassword) != c.userPassword) {
    EXPECT_FALSE(d.OwnerAuthenticated());
  }

  if (c.ownerPassword) {
    ASSERT_TRUE(d.CheckPassword(c.ownerPassword));
    EXPECT_TRUE(d.OwnerAuthenticated());
    EXPECT_EQ(ToHex(d.FileKey()), c.fileKey);
    EXPECT_EQ(d.Permissions(), TkxUserPermissions::All());
    if (c.enc.r <= 4) {
      EXPECT_EQ(d.RecoveredUserPassword(), c.userPassword);
    }
  }

  for (const char* wrong : {"wrong", "", "View", "baz "}) {
    if (std::string(wrong) == c.userPassword || (c.ownerPassword && std::string(wrong) == c.ownerPassword)) continue;
    EXPECT_FALSE(d.CheckPassword(wrong)) << wrong;
    EXPECT_TRUE(d.FileKey().empty());
    EXPECT_THROW(d.DecryptString("abc", 1, 0), EPasswordError);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CryptHandler, ::testing::ValuesIn(kHandlers), [](const auto& info) {
  std::string n = info.param.name;
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
});

// ---- decrypting strings and streams ----

struct DataCase {
  const char* name;
  EncryptValues enc;
  const char* password;
  int streamObj;
  const char* stream;  // encrypted content stream
  int stringObj;
  const char* string;  // encrypted title string
};

constexpr const char* kContent = "BT /F1 12 Tf 72 712 Td (Hello, world) Tj ET";
constexpr const char* kTitle = "Secret title";
constexpr const char* kDataFileId = "00112233445566778899aabbccddeeff";

const DataCase kData[] = {
    {"rc4-40",
     {1, 2, 40, -4, "94e8094419662a774442fb072e3d9f19e9d130ec09a4d0061e78fe920f7ab62f",
      "b1f625689bca1356d125453c43cfa750c0296b5c271c03f1cc359fa658a4fa21"},
     "user",
     5,
     "0c6edafdb106c35754e2f56f736e89cb38eac62dc325aaa77b957a36b17fb304d16b57c64808ab043176f3",
     2,
     "e8c195f00285d69ccc213f6b"},
    {"rc4-128",
     {2, 3, 128, -4, "0ba3835f88f90388e74e54584125ce142be0de24c6b0d37746e075b891756671",
      "d798239dd347dc3afe3dd10515bb58430122456a91bae5134273a6db134c87c4"},
     "owner",
     5,
     "f7c3fd57e88389bdc05cb37b4ff13ba13217714c67f64b648e2f9fb5bbe1ba23792648c78520e025a1d78c",
     2,
     "6587c50db72272f4c69d9e0b"},
    // A 56-bit key, owner key made with whole-hash rounds ...
    {"rc4-56",
     {2, 3, 56, -3904, "7b7d06c3268267b87b9f751009d5675c2b9250df3b5ce8e54144356aac59b832",
      "1e3e015bde1bc44b217a516b398082f000000000000000000000000000000000"},
     "boss",
     4,
     "657e1b44e1f17141e0d9d286d553623f10b46eae3ac0a6159b789ebd4cd83f5f452b201f23ab313546136e",
     5,
     "6a698550c8b63ca8a26c30bc"},
    // ... and with rounds over the key length only, as other writers do.
    {"rc4-56-short-rounds",
     {2, 3, 56, -3904, "08157c009f71682646ee08a4aaf8d18a443bc4b86416e41d695497558d6f8eb6",
      "a563206c4ad243c30b99ce512a2f6e6900000000000000000000000000000000"},
     "boss",
     4,
     "84f6e9a2e32ec13aa3ebbca52d9e9b43d2087b426ff812c38acc47a42d7e4407f509e384a43b5ee324a5bf",
     5,
     "bf686bf3c6ffa4db74575efd"},
    {"rc4-crypt-filter-clear-metadata",
     {4, 4, 128, -4, "0ba3835f88f90388e74e54584125ce142be0de24c6b0d37746e075b891756671",
      "4ce462854e8df78de5f814850ddb996d0122456a91bae5134273a6db134c87c4", "V2", 16, false},
     "user",
     5,
     "9fdda2fc2027e91df7dc11318bf3e43afb4bfea62e734aaf8687eebfa491aace60825278e3b0c4a3f24afe",
     2,
     "e1641fd182c7720c50e67f50"},
    {"aes-128",
     {4, 4, 128, -4, "0ba3835f88f90388e74e54584125ce142be0de24c6b0d37746e075b891756671",
      "d798239dd347dc3afe3dd10515bb58430122456a91bae5134273a6db134c87c4", "AESV2", 16},
     "user",
     5,
     "05bfffc6cac47d84ab495ebb66faa5da409ea1f0b81889673e84364150d3b6b4042bc7e927e6c801a394b97a09dfe8cefad6a49023ee7"
     "46ba532f08b58c741d5",
     2,
     "264140fcdb6ae724b8a7551b5ac1b6c80df5722375755b8f9bcf66d5552facc7"},
    {"aes-256-r5",
     {5, 5, 256, -4, "976d10e25a8a5a874a95be091205bc556c4fd7cda121ccdef9234b12fa9b1fddbe8d117388a69f54f7f8c7cb4d9ab609",
      "1abd7b1330387471c4c3f85e1d9f6b550a8194da48779b3cd3bf7429d0b5d6aec82f915da6aa6ba35379c3e507ec5364", "AESV3", 32,
      true, "fc10984e57559e88f6d5e3980980bbb977533158b9e4be20448b3b873ab0fc0a",
      "e7f04efebde6c00287750773398856ed8f443e89c50d6b8aac7539c832e82672", "bf94b4668d58f4ea803f242e39744d15"},
     "owner",
     5,
     "24bbbb2e5c630c4ed00254d67fef3ecabcdeb3b0cd672aca5001f2a3cce7a2e7ee657e765d762889ec06b8cbe9f4aba2bb9d5d52284bb"
     "d702c50e5d0ec230033",
     2,
     "4749538cceceec963893848ab945b4cbff01d9216b2214f2fd3ef5001be5fe21"},
    // User password "pässwörd" in UTF-8.
    {"aes-256-r6",
     {5, 6, 256, -4, "d1ca6a01867f696f108a1350094aedfc47ecd31bfa0eb695f8e93cbb6b8bc47226194fdc198d5aba5f37868175f3178d",
      "8e5191a1ed960c49071b4d281cff19134e2c117394ff357d3102fae9b022ef3b12117031f056f9f008297992806c5ad5", "AESV3", 32,
      true, "6c1a1b24965e7e596e847ad9e60831f3667cd4cb945b128f015af475c88474cc",
      "946f8c23111a0549734db5a070a24d5320bede9f2be6bba40b4a5394674204eb", "1bf589c47f9b05086c3fd6fc5b2e6015"},
     "p\xc3\xa4ssw\xc3\xb6rd",
     5,
     "664c5953f81a4518469eb01971392c828cd4b3aa607ae088e4c2a9ed381370f88b2fed1e13c1c480b0493264c34518ab49f25354b7f3a"
     "801bc2f4954331d4aa1",
     2,
     "71e2bff17fe848969805336ccd225aa071cd77a5801b92c7b29bb847449c0905"},
};

class CryptData : public ::testing::TestWithParam<DataCase> {};

TEST_P(CryptData, StringsAndStreamsDecryptWithTheirObjectKeys) {
  const DataCase& c = GetParam();
  TkxPDFDecrypt d;
  d.Setup(*MakeDict(c.enc), Hex(kDataFileId));
  ASSERT_TRUE(d.CheckPassword(c.password));
  const std::string stream = Hex(c.stream);
  const std::vector<uint8_t> plain =
      d.DecryptStream(std::vector<uint8_t>(stream.begin(), stream.end()), c.streamObj, 0);
  EXPECT_EQ(std::string(plain.begin(), plain.end()), kContent);
  EXPECT_EQ(d.DecryptString(Hex(c.string), c.stringObj, 0), kTitle);
  EXPECT_EQ(d.EncryptMetadata(), c.enc.encryptMetadata);
  // The object number and generation are part of the key (not with AES-256).
  if (c.enc.v < 5) {
    EXPECT_NE(d.DecryptString(Hex(c.string), c.stringObj + 1, 0), kTitle);
    EXPECT_NE(d.DecryptString(Hex(c.string), c.stringObj, 1), kTitle);
  }
  EXPECT_EQ(d.DecryptString("", c.stringObj, 0), "");
}

INSTANTIATE_TEST_SUITE_P(Handlers, CryptData, ::testing::ValuesIn(kData), [](const auto& info) {
  std::string n = info.param.name;
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
});

TEST(Crypt, PasswordInTheAnsiCodePageIsAcceptedToo) {
  const DataCase& c = kData[7];
  TkxPDFDecrypt d;
  d.Setup(*MakeDict(c.enc), Hex(kDataFileId));
  EXPECT_TRUE(d.CheckPassword("p\xe4ssw\xf6rd"));
  EXPECT_FALSE(d.CheckPassword("passwort"));
}

TEST(Crypt, DamagedAesDataDecryptsWhatItCan) {
  const DataCase& c = kData[5];  // AES-128: 16-byte IV, then 48 bytes for 43 bytes of content
  TkxPDFDecrypt d;
  d.Setup(*MakeDict(c.enc), Hex(kDataFileId));
  ASSERT_TRUE(d.CheckPassword(c.password));
  const std::string full = Hex(c.stream);
  auto decrypt = [&](const std::string& s) {
    const std::vector<uint8_t> out = d.DecryptStream(std::vector<uint8_t>(s.begin(), s.end()), c.streamObj, 0);
    return std::string(out.begin(), out.end());
  };
  const std::string content = kContent;
  EXPECT_EQ(decrypt(full + "xyz"), content);                                    // a partial block is dropped
  EXPECT_EQ(decrypt(full.substr(0, full.size() - 16)), content.substr(0, 32));  // no valid padding left
  EXPECT_EQ(decrypt(full.substr(0, 16)), "");                                   // the IV alone
  EXPECT_EQ(decrypt(full.substr(0, 7)), "");
  EXPECT_EQ(decrypt(""), "");
}

// ---- permissions, settings, setup errors ----

TEST(Crypt, PermissionFlagsAndPermissionSets) {
  TkxPDFDecrypt d;
  d.SetPermissionFlags(-3904);
  EXPECT_EQ(d.PermissionFlags(), (std::array<uint8_t, 4>{0xC0, 0xF0, 0xFF, 0xFF}));
  d.SetPermissionFlags(4294963392LL);  // the same bits written unsigned
  EXPECT_EQ(d.PermissionFlags(), (std::array<uint8_t, 4>{0xC0, 0xF0, 0xFF, 0xFF}));

  struct Case {
    int64_t length, p;
    uint8_t bits;
  } cases[] = {
      {128, -4, 0xFF},    {40, -4, 0x0F},  // bits 9 to 12 count only for long keys
      {256, -3076, 0x3F},                  // no assembly (bit 11), no high-resolution print (bit 12)
      {128, -3104, 0x38},                  // no print, modify, copy, assembly, high-res print
      {128, -64, 0xF0},                    // none of bits 3 to 6
      {40, 0, 0x00},
  };
  for (const Case& c : cases) EXPECT_EQ(PermissionsFromP(c.length, c.p).Bits, c.bits) << c.p;
}

TEST(Crypt, UserPasswordLosesWithheldPermissionsAndFreezesSettings) {
  const HandlerCase& c = kHandlers[2];  // /P -3104
  TkxPDFDecrypt d;
  d.Setup(*MakeDict(c.enc), Hex(c.fileId));

  TkxPDFEncryptionSettings rejected;
  EXPECT_FALSE(d.CheckPassword(rejected, "nope"));
  EXPECT_FALSE(rejected.Enabled());
  EXPECT_TRUE(rejected.CanChange());

  TkxPDFEncryptionSettings s;
  ASSERT_TRUE(d.CheckPassword(s, "view"));
  for (TkxUserPermissionsType t : {AllowCopy, AllowModify, AllowPrint, AllowDocAssembly, AllowHighResPrint})
    EXPECT_FALSE(d.Permissions().Contains(t)) << int(t);
  for (TkxUserPermissionsType t : {AllowAnnotation, AllowFormFill, AllowAccessibility})
    EXPECT_TRUE(d.Permissions().Contains(t)) << int(t);
  EXPECT_TRUE(s.Enabled());
  EXPECT_EQ(s.Level(), el128bit);
  EXPECT_EQ(s.UserPassword(), "view");
  EXPECT_EQ(s.UserPermissions(), d.Permissions());
  // A fixed prefix, the local time as yyyymmddhhnnss and a random number.
  const std::string& generated = s.OwnerPassword();
  EXPECT_EQ(generated.rfind("Paperwright", 0), 0u) << generated;
  EXPECT_GE(generated.size(), 11u + 14u + 1u) << generated;
  EXPECT_TRUE(std::all_of(generated.begin() + 11, generated.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
      << generated;
  EXPECT_FALSE(s.CanChange());
  try {
    s.SetUserPassword("x");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "User cannot change encryption settings");
  }
  EXPECT_THROW(s.SetEnabled(false), Exception);

  TkxPDFEncryptionSettings o;
  ASSERT_TRUE(d.CheckPassword(o, "master"));
  EXPECT_EQ(o.OwnerPassword(), "master");
  EXPECT_EQ(o.UserPassword(), "view");
  EXPECT_EQ(o.UserPermissions(), TkxUserPermissions::All());
  EXPECT_TRUE(o.CanChange());
}

TEST(Crypt, AlteredPermsEntryRejectsTheRightPassword) {
  HandlerCase c = kHandlers[6];
  c.enc.perms = "711a56949c0f9f11307e8405063bcfee";
  TkxPDFDecrypt d;
  d.Setup(*MakeDict(c.enc), Hex(c.fileId));
  EXPECT_FALSE(d.CheckPassword("view"));
  EXPECT_FALSE(d.CheckPassword("master"));
}

TEST(Crypt, SetupRejectsWhatItCannotDecrypt) {
  const EncryptValues good = kHandlers[2].enc;
  struct Case {
    const char* what;
    std::function<void(TkxPDFDictObject&)> change;
    const char* message;  // null: any EPDFException
  };
  const Case cases[] = {
      {"other handler", [](TkxPDFDictObject& d) { d.SetName("/Filter", "/Adobe.PubSec"); }, nullptr},
      {"version 3", [](TkxPDFDictObject& d) { d.SetInteger("/V", 3); }, nullptr},
      {"version 6", [](TkxPDFDictObject& d) { d.SetInteger("/V", 6); }, nullptr},
      {"revision 7", [](TkxPDFDictObject& d) { d.SetInteger("/R", 7); }, nullptr},
      {"key of 44 bits", [](TkxPDFDictObject& d) { d.SetInteger("/Length", 44); }, nullptr},
      {"key of 256 bits for RC4", [](TkxPDFDictObject& d) { d.SetInteger("/Length", 256); }, nullptr},
      {"unknown crypt filter",
       [](TkxPDFDictObject& d) {
         d.SetInteger("/V", 4);
         d.SetName("/StmF", "/Missing");
       },
       nullptr},
      {"AES-256 filter in version 4",
       [](TkxPDFDictObject& d) {
         d.SetInteger("/V", 4);
         auto f = std::make_unique<TkxPDFDictObject>();
         f->AddName("/CFM", "/AESV3");
         auto cf = std::make_unique<TkxPDFDictObject>();
         cf->AddObject("/StdCF", std::move(f));
         d.SetValue("/CF", std::move(cf));
         d.SetName("/StmF", "/StdCF");
       },
       nullptr},
      {"no /UE for AES-256",
       [](TkxPDFDictObject& d) {
         d.SetInteger("/V", 5);
         d.SetInteger("/R", 6);
       },
       nullptr},
      {"no /P", [](TkxPDFDictObject& d) { d.Remove("/P"); }, "Invalid permission in encryption dictionary"},
      {"real /P", [](TkxPDFDictObject& d) { d.SetValue("/P", std::make_unique<TkxPDFRealObject>(-4.0)); },
       "Invalid permission in encryption dictionary"},
      {"empty /O", [](TkxPDFDictObject& d) { d.SetValue("/O", std::make_unique<TkxPDFStringObject>("()")); },
       "Invalid Owner Key."},
      {"no /U", [](TkxPDFDictObject& d) { d.Remove("/U"); }, "Invalid User Key."},
  };
  for (const Case& c : cases) {
    auto dict = MakeDict(good);
    c.change(*dict);
    TkxPDFDecrypt d;
    try {
      d.Setup(*dict, "");
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const EPDFException& e) {
      EXPECT_EQ(c.message, nullptr) << c.what << ": " << e.what();
    } catch (const Exception& e) {
      ASSERT_NE(c.message, nullptr) << c.what << ": " << e.what();
      EXPECT_STREQ(e.what(), c.message) << c.what;
    }
    EXPECT_FALSE(d.CheckPassword("view")) << c.what;  // a failed setup accepts nothing
  }
  // A key length given in bytes, and /O and /U as literal strings (their bodies hold the
  // bytes themselves, parentheses and backslashes included), are read as meant.
  auto dict = MakeDict(good);
  dict->SetInteger("/Length", 16);
  dict->SetValue("/O", std::make_unique<TkxPDFStringObject>("(" + Hex(good.o) + ")"));
  dict->SetValue("/U", std::make_unique<TkxPDFStringObject>("(" + Hex(good.u) + ")"));
  TkxPDFDecrypt d;
  d.Setup(*dict, Hex(kHandlers[2].fileId));
  EXPECT_EQ(d.HandlerDescription(), "RC4 128-bit");
  EXPECT_TRUE(d.CheckPassword("view"));
}

}  // namespace
