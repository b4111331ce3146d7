#include "pdf/kxPDFCrypt.h"

#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <random>

#include "pdf/kxMD5.h"
#include "pdf/kxRC4.h"

namespace pw {

namespace {

// ---- OpenSSL helpers ----

const uint8_t* U8(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// Runs a block cipher without padding over whole blocks; size must be a
// multiple of the block size. iv may be null (ECB). Buf: std::string or
// std::vector<uint8_t>.
template <class Buf = std::string>
Buf AesRaw(const EVP_CIPHER* cipher, bool encrypt, const uint8_t* key, const uint8_t* iv, const uint8_t* data,
           size_t size) {
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, iv, encrypt ? 1 : 0) != 1)
    throw Exception("AES initialisation failed");
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  Buf out(size, 0);
  size_t done = 0;
  // EVP takes int lengths; feed very large streams in slices of whole blocks.
  constexpr size_t kSlice = size_t(1) << 30;
  while (done < size) {
    const size_t n = std::min(kSlice, size - done);
    int outLen = 0;
    if (EVP_CipherUpdate(ctx.get(), reinterpret_cast<uint8_t*>(out.data()) + done, &outLen, data + done,
                         static_cast<int>(n)) != 1)
      throw Exception("AES operation failed");
    done += n;
  }
  int finalLen = 0;
  if (EVP_CipherFinal_ex(ctx.get(), reinterpret_cast<uint8_t*>(out.data()) + size, &finalLen) != 1)
    throw Exception("AES operation failed");
  return out;
}

std::string Digest(const EVP_MD* md, std::string_view data) {
  uint8_t out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(data.data(), data.size(), out, &len, md, nullptr) != 1) throw Exception("Hash operation failed");
  return std::string(reinterpret_cast<const char*>(out), len);
}

// Data protected with AES in CBC mode: a 16-byte initialisation vector, then
// the cipher blocks. A trailing partial block is dropped; the final padding
// is removed only when it is well formed.
template <class Buf>
Buf AesCbcDecrypt(const EVP_CIPHER* cipher, std::string_view key, const uint8_t* data, size_t size) {
  if (size < 16) return {};  // not even an initialisation vector
  const size_t body = (size - 16) / 16 * 16;
  Buf out = AesRaw<Buf>(cipher, false, U8(key), data, data + 16, body);
  if (!out.empty()) {
    const uint8_t pad = static_cast<uint8_t>(out.back());
    if (pad >= 1 && pad <= 16 && pad <= out.size() &&
        std::all_of(out.end() - pad, out.end(), [pad](auto c) { return static_cast<uint8_t>(c) == pad; }))
      out.erase(out.end() - pad, out.end());
  }
  return out;
}

// ---- dictionary values ----

const char* const kBadPermission = "Invalid permission in encryption dictionary";

std::string StringBytes(const TkxPDFObject* o) {
  const TkxPDFStringObject* s = AsString(o);
  return s ? s->GetBytes() : std::string();
}

// A key length in bits as a dictionary gives it; some writers give bytes.
int KeyBitsFrom(const TkxPDFObject* o, int def) {
  if (!IsNumber(o)) return def;
  int64_t v = IntValue(o);
  if (v > 0 && v <= 16) v *= 8;
  if (v < 40 || v > 128 || v % 8 != 0) throw EPDFException(FormatMsg("Unsupported encryption key length (%d)", v));
  return static_cast<int>(v);
}

// The password in the cp1252 code page when it is UTF-8 with characters
// outside ASCII that cp1252 can represent; empty otherwise.
std::string AnsiAlternative(std::string_view password) {
  if (std::all_of(password.begin(), password.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; })) return {};
  const std::u16string wide = Utf8ToWide(password);
  std::string out;
  for (char16_t c : wide) {
    uint8_t b;
    if (c == 0xFFFD || !WideCharToAnsi(c, b)) return {};
    out.push_back(static_cast<char>(b));
  }
  return out;
}

bool IsValidUtf8(std::string_view s) { return WideToUtf8(Utf8ToWide(s)) == s; }

// Revision 5 and 6 passwords: UTF-8, at most 127 bytes.
std::string Utf8Password(std::string_view password) {
  return std::string(password.substr(0, std::min<size_t>(password.size(), 127)));
}

// The password hash of revision 6: SHA-256 of password, salt and extra data,
// refined by rounds of AES-128 and a SHA-2 chosen by the data of each round.
std::string HashR6(std::string_view password, std::string_view salt, std::string_view udata) {
  std::string k = Digest(EVP_sha256(), std::string(password) + std::string(salt) + std::string(udata));
  std::string e;
  for (int round = 1;; ++round) {
    std::string block = std::string(password) + k + std::string(udata);
    std::string k1;
    k1.reserve(block.size() * 64);
    for (int i = 0; i < 64; ++i) k1 += block;
    e = AesRaw(EVP_aes_128_cbc(), true, U8(k), U8(k) + 16, U8(k1), k1.size());
    // The first 16 bytes of E as a big number modulo 3 equal the sum of its
    // bytes modulo 3, since 256 leaves remainder 1.
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) sum += static_cast<uint8_t>(e[i]);
    const EVP_MD* md = sum % 3 == 0 ? EVP_sha256() : sum % 3 == 1 ? EVP_sha384() : EVP_sha512();
    k = Digest(md, e);
    if (round >= 64 && static_cast<uint8_t>(e.back()) <= round - 32) break;
  }
  return k.substr(0, 32);
}

}  // namespace

// ---- permissions and settings ----

TkxUserPermissions PermissionsFromP(int64_t lengthBits, int64_t p) {
  struct Bit {
    int bit;
    TkxUserPermissionsType member;
  };
  static constexpr Bit kBits[] = {{3, AllowPrint},        {4, AllowModify},       {5, AllowCopy},
                                  {6, AllowAnnotation},   {9, AllowFormFill},     {10, AllowAccessibility},
                                  {11, AllowDocAssembly}, {12, AllowHighResPrint}};
  TkxUserPermissions set = TkxUserPermissions::None();
  for (const Bit& b : kBits) {
    if (b.bit >= 9 && lengthBits < 128) continue;
    if ((p >> (b.bit - 1)) & 1) set.Include(b.member);
  }
  return set;
}

void TkxPDFEncryptionSettings::CheckChange() const {
  if (!can_change_) throw Exception("User cannot change encryption settings");
}
void TkxPDFEncryptionSettings::SetEnabled(bool v) {
  CheckChange();
  enabled_ = v;
}
void TkxPDFEncryptionSettings::SetLevel(TkxPDFEncryptionLevel v) {
  CheckChange();
  level_ = v;
}
void TkxPDFEncryptionSettings::SetOwnerPassword(std::string_view v) {
  CheckChange();
  owner_password_ = v;
}
void TkxPDFEncryptionSettings::SetUserPassword(std::string_view v) {
  CheckChange();
  user_password_ = v;
}
void TkxPDFEncryptionSettings::SetUserPermissions(TkxUserPermissions v) {
  CheckChange();
  permissions_ = v;
}

// ---- shared state ----

const std::array<uint8_t, 32> TkxBasePDFCrypt::PasswordPadding = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

std::string TkxBasePDFCrypt::PadPassword(std::string_view password) {
  std::string out(password.substr(0, std::min<size_t>(password.size(), 32)));
  for (size_t i = 0; out.size() < 32; ++i) out.push_back(static_cast<char>(PasswordPadding[i]));
  return out;
}

namespace {
std::string FixedLength(std::string_view raw, size_t len) {
  std::string out(raw.substr(0, std::min(raw.size(), len)));
  out.resize(len, '\0');
  return out;
}
}  // namespace

void TkxBasePDFCrypt::SetOwnerKey(std::string_view raw) {
  if (raw.empty()) throw Exception("Invalid Owner Key.");
  owner_key_ = FixedLength(raw, revision_ >= 5 ? 48 : 32);
}

void TkxBasePDFCrypt::SetUserKey(std::string_view raw) {
  if (raw.empty()) throw Exception("Invalid User Key.");
  user_key_ = FixedLength(raw, revision_ >= 5 ? 48 : 32);
}

void TkxBasePDFCrypt::SetPermissionFlags(int64_t p) {
  p_ = p;
  for (int i = 0; i < 4; ++i) permission_flags_[i] = static_cast<uint8_t>(static_cast<uint64_t>(p) >> (8 * i));
}

std::string TkxBasePDFCrypt::ObjectKey(int32_t objNo, int32_t gen, bool aes) const {
  TkxMD5 md5;
  md5.Update(file_key_);
  const uint8_t tail[5] = {static_cast<uint8_t>(objNo), static_cast<uint8_t>(objNo >> 8),
                           static_cast<uint8_t>(objNo >> 16), static_cast<uint8_t>(gen),
                           static_cast<uint8_t>(gen >> 8)};
  md5.Update(tail, sizeof(tail));
  if (aes) md5.Update("sAlT", 4);
  const TkxMD5::Digest d = md5.Final();
  const size_t n = std::min<size_t>(file_key_.size() + 5, 16);
  return std::string(reinterpret_cast<const char*>(d.data()), n);
}

// ---- decryptor: setup ----

void TkxPDFDecrypt::Setup(const TkxPDFDictObject& encrypt, std::string_view firstFileId) {
  level_ = el128bit;
  version_ = revision_ = 0;
  key_length_ = 16;
  file_id_.clear();
  owner_key_.clear();
  user_key_.clear();
  owner_enc_key_.clear();
  user_enc_key_.clear();
  perms_.clear();
  file_key_.clear();
  permissions_ = TkxUserPermissions::All();
  permission_flags_ = {};
  p_ = 0;
  owner_authenticated_ = false;
  encrypt_metadata_ = true;
  string_method_ = stream_method_ = cmRC4;
  alt_key_length_ = 0;
  recovered_user_password_.clear();

  const TkxPDFObject* filter = encrypt.Lookup("/Filter");
  if (IsName(filter) && NameValue(filter) != "Standard")
    throw EPDFException(FormatMsg("Unsupported security handler (%s)", NameValue(filter)));

  version_ = static_cast<int>(std::clamp<int64_t>(IntValue(encrypt.Lookup("/V"), 0), -1, 1000));
  const TkxPDFObject* r = encrypt.Lookup("/R");
  if (IsNumber(r)) {
    revision_ = static_cast<int>(std::clamp<int64_t>(IntValue(r), -1, 1000));
  } else {
    // Missing revision: the one every writer pairs with the version.
    revision_ = version_ < 2 ? 2 : version_ == 4 ? 4 : version_ >= 5 ? 6 : 3;
  }

  if (version_ < 0 || version_ == 3 || version_ > 5)
    throw EPDFException(FormatMsg("Unsupported encryption version (%d)", version_));
  if ((version_ < 5 && (revision_ < 2 || revision_ > 4)) || (version_ == 5 && revision_ != 5 && revision_ != 6))
    throw EPDFException(FormatMsg("Unsupported encryption revision (%d)", revision_));

  const TkxPDFObject* metadata = encrypt.Lookup("/EncryptMetadata");
  if (IsBoolean(metadata)) encrypt_metadata_ = static_cast<const TkxPDFBooleanObject*>(metadata)->Value;

  if (version_ <= 2) {
    const int bits = version_ == 2 ? KeyBitsFrom(encrypt.Lookup("/Length"), 40) : 40;
    key_length_ = revision_ == 2 ? 5 : bits / 8;
  } else if (version_ == 4 || version_ == 5) {
    const TkxPDFDictObject* cf = AsDict(encrypt.Lookup("/CF"));
    int rc4Bits = 0, dictBits = 0;
    auto methodOf = [&](const char* entry) {
      const std::string name = IsName(encrypt.Lookup(entry)) ? NameValue(encrypt.Lookup(entry)) : "Identity";
      if (name == "Identity") return cmIdentity;
      const TkxPDFDictObject* f = cf ? AsDict(cf->Lookup("/" + name)) : nullptr;
      if (!f) throw EPDFException(FormatMsg("Unknown crypt filter (%s)", name));
      const TkxPDFObject* cfm = f->Lookup("/CFM");
      const std::string m = IsName(cfm) ? NameValue(cfm) : "None";
      if (m == "None") return cmIdentity;
      if (m == "V2" && version_ == 4) {
        const TkxPDFObject* own = f->Lookup("/Length");
        rc4Bits = KeyBitsFrom(own, rc4Bits ? rc4Bits : 128);
        // A filter without a length of its own: writers take either 128 bits
        // or the dictionary's /Length.
        if (!own && IsNumber(encrypt.Lookup("/Length"))) {
          try {
            dictBits = KeyBitsFrom(encrypt.Lookup("/Length"), 128);
          } catch (const Exception&) {
            dictBits = 0;
          }
        }
        return cmRC4;
      }
      if (m == "AESV2" && version_ == 4) return cmAESV2;
      if (m == "AESV3" && version_ == 5) return cmAESV3;
      throw EPDFException(FormatMsg("Unsupported crypt filter method (%s)", m));
    };
    stream_method_ = methodOf("/StmF");
    string_method_ = methodOf("/StrF");
    key_length_ = version_ == 5 ? 32 : rc4Bits ? rc4Bits / 8 : 16;
    if (version_ == 4 && (stream_method_ == cmAESV2 || string_method_ == cmAESV2))
      key_length_ = 16;
    else if (version_ == 4 && dictBits && dictBits / 8 != key_length_)
      alt_key_length_ = dictBits / 8;
  }

  if (version_ == 5) {
    level_ = elAES256;
  } else if (stream_method_ == cmAESV2 || (stream_method_ == cmIdentity && string_method_ == cmAESV2)) {
    level_ = elAES128;
  } else {
    level_ = key_length_ == 5 ? el40bit : el128bit;
  }

  const TkxPDFObject* p = encrypt.Lookup("/P");
  if (!IsInteger(p) && !IsInt64(p)) throw EInvalidPermission(kBadPermission);
  SetPermissionFlags(IntValue(p));

  // The keys come last and only once all is valid: a decryptor whose setup
  // failed has no keys and accepts no password.
  if (revision_ >= 5) {
    std::string oe = StringBytes(encrypt.Lookup("/OE"));
    std::string ue = StringBytes(encrypt.Lookup("/UE"));
    if (oe.size() < 32) throw EPDFException("Invalid encryption dictionary (/OE)");
    if (ue.size() < 32) throw EPDFException("Invalid encryption dictionary (/UE)");
    owner_enc_key_ = oe.substr(0, 32);
    user_enc_key_ = ue.substr(0, 32);
    perms_ = StringBytes(encrypt.Lookup("/Perms"));
    if (!perms_.empty()) perms_ = FixedLength(perms_, 16);
  }
  SetFileID(firstFileId);
  SetOwnerKey(StringBytes(encrypt.Lookup("/O")));
  try {
    SetUserKey(StringBytes(encrypt.Lookup("/U")));
  } catch (...) {
    owner_key_.clear();
    throw;
  }
}

// ---- decryptor: passwords ----

std::string TkxPDFDecrypt::ComputeRC4Key(std::string_view paddedPassword) const {
  TkxMD5 md5;
  md5.Update(paddedPassword);
  md5.Update(owner_key_.data(), 32);
  md5.Update(permission_flags_.data(), permission_flags_.size());
  md5.Update(file_id_);
  if (revision_ >= 4 && !encrypt_metadata_) md5.Update("\xFF\xFF\xFF\xFF", 4);
  TkxMD5::Digest d = md5.Final();
  const size_t n = static_cast<size_t>(key_length_);
  if (revision_ >= 3)
    for (int i = 0; i < 50; ++i) d = TkxMD5::Hash(std::string_view(reinterpret_cast<const char*>(d.data()), n));
  return std::string(reinterpret_cast<const char*>(d.data()), n);
}

bool TkxPDFDecrypt::CheckUserPasswordRC4(std::string_view paddedPassword) {
  const std::string key = ComputeRC4Key(paddedPassword);
  bool ok;
  if (revision_ == 2) {
    const std::string expect =
        TkxRC4::Crypt(key, std::string_view(reinterpret_cast<const char*>(PasswordPadding.data()), 32));
    ok = expect == user_key_;
  } else {
    TkxMD5 md5;
    md5.Update(PasswordPadding.data(), PasswordPadding.size());
    md5.Update(file_id_);
    const TkxMD5::Digest d = md5.Final();
    std::string value(reinterpret_cast<const char*>(d.data()), d.size());
    std::string k = key;
    for (int i = 0; i <= 19; ++i) {
      for (size_t j = 0; j < key.size(); ++j) k[j] = static_cast<char>(key[j] ^ i);
      value = TkxRC4::Crypt(k, value);
    }
    ok = value.compare(0, 16, user_key_, 0, 16) == 0;
  }
  if (ok) file_key_ = key;
  return ok;
}

bool TkxPDFDecrypt::PermsMatch(const std::string& fileKey) const {
  if (perms_.size() != 16) return true;  // nothing to confirm the key with
  const std::string plain = AesRaw(EVP_aes_256_ecb(), false, U8(fileKey), nullptr, U8(perms_), 16);
  return plain.compare(9, 3, "adb") == 0;
}

bool TkxPDFDecrypt::CheckUserPasswordAES256(std::string_view password) {
  const std::string pw = Utf8Password(password);
  const std::string_view u(user_key_);
  auto hash = [&](std::string_view salt) {
    return revision_ == 5 ? Digest(EVP_sha256(), pw + std::string(salt)) : HashR6(pw, salt, {});
  };
  if (hash(u.substr(32, 8)) != u.substr(0, 32)) return false;
  const std::string intermediate = hash(u.substr(40, 8));
  const uint8_t zeroIv[16] = {};
  const std::string key = AesRaw(EVP_aes_256_cbc(), false, U8(intermediate), zeroIv, U8(user_enc_key_), 32);
  if (!PermsMatch(key)) return false;
  file_key_ = key;
  return true;
}

bool TkxPDFDecrypt::CheckOwnerPasswordAES256(std::string_view password) {
  const std::string pw = Utf8Password(password);
  const std::string_view o(owner_key_);
  const std::string_view u(user_key_);
  auto hash = [&](std::string_view salt) {
    return revision_ == 5 ? Digest(EVP_sha256(), pw + std::string(salt) + std::string(u)) : HashR6(pw, salt, u);
  };
  if (hash(o.substr(32, 8)) != o.substr(0, 32)) return false;
  const std::string intermediate = hash(o.substr(40, 8));
  const uint8_t zeroIv[16] = {};
  const std::string key = AesRaw(EVP_aes_256_cbc(), false, U8(intermediate), zeroIv, U8(owner_enc_key_), 32);
  if (!PermsMatch(key)) return false;
  file_key_ = key;
  return true;
}

bool TkxPDFDecrypt::CheckUserPassword(std::string_view password) {
  if (user_key_.empty() || owner_key_.empty()) return false;  // not set up
  if (revision_ >= 5) {
    if (CheckUserPasswordAES256(password)) return true;
    // A password handed over in cp1252 rather than UTF-8.
    return !IsValidUtf8(password) && CheckUserPasswordAES256(WideToUtf8(AnsiToWide(password)));
  }
  if (CheckUserPasswordRC4(PadPassword(password))) return true;
  const std::string ansi = AnsiAlternative(password);
  return !ansi.empty() && CheckUserPasswordRC4(PadPassword(ansi));
}

bool TkxPDFDecrypt::CheckOwnerPassword(std::string_view password) {
  if (user_key_.empty() || owner_key_.empty()) return false;  // not set up
  if (revision_ >= 5) {
    if (CheckOwnerPasswordAES256(password)) return true;
    return !IsValidUtf8(password) && CheckOwnerPasswordAES256(WideToUtf8(AnsiToWide(password)));
  }
  const size_t n = static_cast<size_t>(key_length_);
  // chained: how many bytes of each hash feed the next of the 50 rounds.
  // Writers disagree for keys shorter than 16 bytes (whole hash or key length).
  auto tryOwner = [this, n](std::string_view pw, size_t chained) {
    TkxMD5::Digest d = TkxMD5::Hash(PadPassword(pw));
    if (revision_ >= 3)
      for (int i = 0; i < 50; ++i) d = TkxMD5::Hash(std::string_view(reinterpret_cast<const char*>(d.data()), chained));
    const std::string key(reinterpret_cast<const char*>(d.data()), n);
    std::string padded = owner_key_;
    if (revision_ == 2) {
      padded = TkxRC4::Crypt(key, padded);
    } else {
      std::string k = key;
      for (int i = 19; i >= 0; --i) {
        for (size_t j = 0; j < key.size(); ++j) k[j] = static_cast<char>(key[j] ^ i);
        padded = TkxRC4::Crypt(k, padded);
      }
    }
    if (!CheckUserPasswordRC4(padded)) return false;
    // The user password is what precedes the longest tail of the padding.
    size_t len = 32;
    for (size_t start = 0; start <= 32; ++start) {
      if (std::equal(padded.begin() + start, padded.end(), PasswordPadding.begin(),
                     [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; })) {
        len = start;
        break;
      }
    }
    recovered_user_password_ = padded.substr(0, len);
    return true;
  };
  const std::string ansi = AnsiAlternative(password);
  for (size_t chained : {size_t(16), n}) {
    if (tryOwner(password, chained) || (!ansi.empty() && tryOwner(ansi, chained))) return true;
    if (n == 16 || revision_ < 3) break;
  }
  return false;
}

bool TkxPDFDecrypt::CheckPassword(std::string_view password) {
  if (CheckPasswordWithKeyLength(password) || alt_key_length_ == 0) return !file_key_.empty();
  // The other key length a writer may have used; the check against /U
  // decides, so a wrong password stays wrong.
  std::swap(key_length_, alt_key_length_);
  if (CheckPasswordWithKeyLength(password)) {
    level_ = key_length_ == 5 ? el40bit : el128bit;
    return true;
  }
  std::swap(key_length_, alt_key_length_);
  return false;
}

bool TkxPDFDecrypt::CheckPasswordWithKeyLength(std::string_view password) {
  file_key_.clear();
  owner_authenticated_ = false;
  permissions_ = TkxUserPermissions::All();
  recovered_user_password_.clear();
  if (CheckOwnerPassword(password)) {
    owner_authenticated_ = true;
    return true;
  }
  if (CheckUserPassword(password)) {
    const TkxUserPermissions allowed = PermissionsFromP(revision_ >= 3 ? 128 : 40, p_);
    for (TkxUserPermissionsType t : {AllowPrint, AllowModify, AllowCopy, AllowAnnotation})
      if (!allowed.Contains(t)) permissions_.Exclude(t);
    if (revision_ >= 3)
      for (TkxUserPermissionsType t : {AllowFormFill, AllowAccessibility, AllowDocAssembly, AllowHighResPrint})
        if (!allowed.Contains(t)) permissions_.Exclude(t);
    return true;
  }
  return false;
}

bool TkxPDFDecrypt::CheckPassword(TkxPDFEncryptionSettings& settings, std::string_view password) {
  if (!CheckPassword(password)) return false;
  settings.enabled_ = true;
  settings.level_ = level_;
  settings.permissions_ = permissions_;
  if (owner_authenticated_) {
    settings.owner_password_ = password;
    settings.user_password_ = recovered_user_password_;
    return true;
  }
  settings.user_password_ = password;
  // A fresh owner password, should the document be saved again.
  char stamp[32] = "00000000000000";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local)) std::strftime(stamp, sizeof(stamp), "%Y%m%d%H%M%S", &local);
  std::random_device rd;
  settings.owner_password_ = std::string("Paperwright") + stamp + std::to_string(rd() & 0x7FFFFFFFu);
  settings.FreezeChanges();
  return true;
}

// ---- decryptor: data ----

template <class Buf>
Buf TkxPDFDecrypt::Decrypt(TkxCryptMethod method, const uint8_t* data, size_t size, int32_t objNo, int32_t gen) const {
  if (file_key_.empty()) throw EPasswordError("No password has been accepted");
  switch (method) {
    case cmIdentity: return Buf(data, data + size);
    case cmRC4: {
      Buf out(data, data + size);
      if (!out.empty()) {
        TkxRC4 rc4(ObjectKey(objNo, gen, false));
        rc4.Process(reinterpret_cast<uint8_t*>(out.data()), out.size());
      }
      return out;
    }
    case cmAESV2: return AesCbcDecrypt<Buf>(EVP_aes_128_cbc(), ObjectKey(objNo, gen, true), data, size);
    case cmAESV3: return AesCbcDecrypt<Buf>(EVP_aes_256_cbc(), file_key_, data, size);
  }
  return {};
}

std::string TkxPDFDecrypt::DecryptString(std::string_view data, int32_t objNo, int32_t gen) const {
  return Decrypt<std::string>(string_method_, U8(data), data.size(), objNo, gen);
}

std::vector<uint8_t> TkxPDFDecrypt::DecryptStream(const std::vector<uint8_t>& data, int32_t objNo, int32_t gen) const {
  return Decrypt<std::vector<uint8_t>>(stream_method_, data.data(), data.size(), objNo, gen);
}

std::string TkxPDFDecrypt::HandlerDescription() const {
  const TkxCryptMethod m = stream_method_ != cmIdentity ? stream_method_ : string_method_;
  switch (m) {
    case cmRC4: return "RC4 " + std::to_string(key_length_ * 8) + "-bit";
    case cmAESV2: return "AES-128";
    case cmAESV3: return "AES-256";
    case cmIdentity: break;
  }
  return "None";
}

}  // namespace pw
