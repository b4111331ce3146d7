// Decryption of files protected by the standard security handler: password
// checks, the file key, and the per-object decryption of strings and streams.
// RC4 keys of 40 to 128 bits (revisions 2 to 4), crypt filters with RC4 or
// AES-128, and AES-256 (revisions 5 and 6) are handled.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/kxPDFObjects.h"

namespace pw {

// Strength of the handler that protects a file. The RC4 levels say how the
// key was made (a 40-bit key with revision 2, longer keys with revision 3/4);
// the AES levels name the cipher of the file's streams.
enum TkxPDFEncryptionLevel : int { el40bit = 0, el128bit = 1, elAES128 = 2, elAES256 = 3 };

// Members of the permission set; the value is the member's bit in the set.
enum TkxUserPermissionsType : uint8_t {
  AllowCopy = 0,
  AllowModify = 1,
  AllowPrint = 2,
  AllowAnnotation = 3,
  AllowFormFill = 4,
  AllowAccessibility = 5,
  AllowDocAssembly = 6,
  AllowHighResPrint = 7,
};

// A set of TkxUserPermissionsType members in one byte.
struct TkxUserPermissions {
  uint8_t Bits = 0xFF;
  static constexpr TkxUserPermissions All() { return {0xFF}; }
  static constexpr TkxUserPermissions None() { return {0}; }
  constexpr bool Contains(TkxUserPermissionsType t) const { return (Bits >> t) & 1u; }
  constexpr void Include(TkxUserPermissionsType t) { Bits = static_cast<uint8_t>(Bits | (1u << t)); }
  constexpr void Exclude(TkxUserPermissionsType t) { Bits = static_cast<uint8_t>(Bits & ~(1u << t)); }
  friend constexpr bool operator==(TkxUserPermissions, TkxUserPermissions) = default;
};

// The members whose /P bits are set (bit 3 print, 4 modify, 5 copy, 6
// annotations; with a key of 128 bits or more also 9 form fill,
// 10 accessibility, 11 assembly, 12 high-resolution print; bits from 1).
TkxUserPermissions PermissionsFromP(int64_t lengthBits, int64_t p);

// How strings or streams are decrypted.
enum TkxCryptMethod : uint8_t { cmIdentity = 0, cmRC4 = 1, cmAESV2 = 2, cmAESV3 = 3 };

// The document's view of the protection of the loaded file. Once a file was
// opened with its user password (not the owner password) the settings are
// frozen: every setter then raises "User cannot change encryption settings".
class TkxPDFEncryptionSettings {
 public:
  bool Enabled() const { return enabled_; }
  TkxPDFEncryptionLevel Level() const { return level_; }
  const std::string& OwnerPassword() const { return owner_password_; }
  const std::string& UserPassword() const { return user_password_; }
  TkxUserPermissions UserPermissions() const { return permissions_; }
  bool CanChange() const { return can_change_; }

  void SetEnabled(bool v);
  void SetLevel(TkxPDFEncryptionLevel v);
  void SetOwnerPassword(std::string_view v);
  void SetUserPassword(std::string_view v);
  void SetUserPermissions(TkxUserPermissions v);
  // Used by the password check; not a published setter.
  void FreezeChanges() { can_change_ = false; }

 private:
  friend class TkxPDFDecrypt;
  void CheckChange() const;
  bool enabled_ = false;
  TkxPDFEncryptionLevel level_ = el128bit;
  std::string owner_password_;
  std::string user_password_;
  TkxUserPermissions permissions_ = TkxUserPermissions::All();
  bool can_change_ = true;
};

// State shared by the decryptor and an encryptor: the inputs of the key
// computation and the file key once a password was accepted. Byte strings
// are held in std::string.
class TkxBasePDFCrypt {
 public:
  virtual ~TkxBasePDFCrypt() = default;

  // The 32 bytes that pad a password for revisions 2 to 4.
  static const std::array<uint8_t, 32> PasswordPadding;
  // The first 32 bytes of the password, completed with PasswordPadding.
  static std::string PadPassword(std::string_view password);

  TkxPDFEncryptionLevel Level() const { return level_; }
  int Version() const { return version_; }       // /V
  int Revision() const { return revision_; }     // /R
  int KeyLength() const { return key_length_; }  // file key length in bytes
  const std::string& FileID() const { return file_id_; }
  const std::string& OwnerKey() const { return owner_key_; }
  const std::string& UserKey() const { return user_key_; }
  const std::string& OwnerEncryptionKey() const { return owner_enc_key_; }  // /OE
  const std::string& UserEncryptionKey() const { return user_enc_key_; }    // /UE
  const std::string& Perms() const { return perms_; }
  // Empty until a password was accepted; KeyLength() bytes afterwards.
  const std::string& FileKey() const { return file_key_; }
  TkxUserPermissions Permissions() const { return permissions_; }
  const std::array<uint8_t, 4>& PermissionFlags() const { return permission_flags_; }
  int64_t P() const { return p_; }
  bool OwnerAuthenticated() const { return owner_authenticated_; }

  // The first file identifier as raw bytes (any length; may be empty).
  void SetFileID(std::string_view raw) { file_id_ = raw; }
  // /O and /U as raw bytes; empty values raise "Invalid Owner Key." and
  // "Invalid User Key.". Shorter values are completed with zero bytes to
  // 32 bytes (48 for revisions 5 and 6).
  void SetOwnerKey(std::string_view raw);
  void SetUserKey(std::string_view raw);
  // /P: its low 32 bits, least significant byte first.
  void SetPermissionFlags(int64_t p);

 protected:
  // Object key for RC4 or AES-128 data of the given object.
  std::string ObjectKey(int32_t objNo, int32_t gen, bool aes) const;

  TkxPDFEncryptionLevel level_ = el128bit;
  int version_ = 0;
  int revision_ = 0;
  int key_length_ = 16;
  std::string file_id_;
  std::string owner_key_;
  std::string user_key_;
  std::string owner_enc_key_;
  std::string user_enc_key_;
  std::string perms_;
  std::string file_key_;
  TkxUserPermissions permissions_ = TkxUserPermissions::All();
  std::array<uint8_t, 4> permission_flags_{};
  int64_t p_ = 0;
  bool owner_authenticated_ = false;
  bool encrypt_metadata_ = true;
};

class TkxPDFDecrypt : public TkxBasePDFCrypt {
 public:
  // Reads /Filter /V /R /Length /O /U /OE /UE /P /Perms /CF /StmF /StrF
  // /EncryptMetadata from a dictionary whose values are direct. Handlers other
  // than the standard one, and versions, revisions, key lengths or crypt
  // filter methods this class cannot decrypt raise EPDFException; /P that is
  // not an integer raises EInvalidPermission. Resets any earlier state.
  void Setup(const TkxPDFDictObject& encrypt, std::string_view firstFileId);

  // Tries the password as owner password, then as user password. True when
  // accepted: FileKey() is set, OwnerAuthenticated() tells which one matched,
  // and after a user-password match Permissions() lose what /P withholds.
  // A rejected password leaves no file key. The password is UTF-8 text; the
  // same text in the cp1252 code page is tried as well, since revisions 2 to
  // 4 hash 8-bit passwords and 5 and 6 hash UTF-8 (at most 127 bytes).
  bool CheckPassword(std::string_view password);
  // As above, and fills the document's settings on acceptance (unchanged on
  // rejection). After a user-password match the settings get a generated
  // owner password and are frozen.
  bool CheckPassword(TkxPDFEncryptionSettings& settings, std::string_view password);
  bool CheckUserPassword(std::string_view password);
  bool CheckOwnerPassword(std::string_view password);
  // The user password recovered by the last owner-password match
  // (revisions 2 to 4; empty otherwise).
  const std::string& RecoveredUserPassword() const { return recovered_user_password_; }

  // Decrypt the data of a string or stream of object objNo/gen. Raise
  // EPasswordError while no password has been accepted. AES data shorter
  // than one block gives an empty result; an invalid final padding is kept.
  std::string DecryptString(std::string_view data, int32_t objNo, int32_t gen) const;
  std::vector<uint8_t> DecryptStream(const std::vector<uint8_t>& data, int32_t objNo, int32_t gen) const;

  // False when /EncryptMetadata is false: metadata streams are then stored
  // in clear and must not be passed through DecryptStream.
  bool EncryptMetadata() const { return encrypt_metadata_; }
  TkxCryptMethod StringMethod() const { return string_method_; }
  TkxCryptMethod StreamMethod() const { return stream_method_; }
  // "RC4 40-bit", "RC4 128-bit" (other RC4 lengths likewise), "AES-128",
  // "AES-256", or "None" when strings and streams are stored in clear.
  std::string HandlerDescription() const;
  // Strings and streams are stored in clear (only embedded files, if
  // anything, are encrypted): the page content needs no password.
  bool NeedsNoKey() const { return string_method_ == cmIdentity && stream_method_ == cmIdentity; }

 private:
  template <class Buf>
  Buf Decrypt(TkxCryptMethod method, const uint8_t* data, size_t size, int32_t objNo, int32_t gen) const;
  std::string ComputeRC4Key(std::string_view paddedPassword) const;
  bool CheckUserPasswordRC4(std::string_view paddedPassword);
  bool CheckUserPasswordAES256(std::string_view password);
  bool CheckOwnerPasswordAES256(std::string_view password);
  bool PermsMatch(const std::string& fileKey) const;
  bool CheckPasswordWithKeyLength(std::string_view password);

  TkxCryptMethod string_method_ = cmRC4;
  TkxCryptMethod stream_method_ = cmRC4;
  std::string recovered_user_password_;
  int alt_key_length_ = 0;  // a second key length to try, 0 when none
};

}  // namespace pw
