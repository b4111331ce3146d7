#include "pdf/kxPDFTypes.h"

namespace pw {

void TkxPDFViewerPreferences::Assign(const TkxPDFDictObject* dict) {
  auto flag = [dict](const char* key) {
    const TkxPDFObject* v = dict ? dict->Lookup(key) : nullptr;
    return IsBoolean(v) && static_cast<const TkxPDFBooleanObject*>(v)->Value;
  };
  CenterWindow = flag("/CenterWindow");
  DisplayDocTitle = flag("/DisplayDocTitle");
  FitWindow = flag("/FitWindow");
  HideMenubar = flag("/HideMenubar");
  HideToolbar = flag("/HideToolbar");
  HideWindowUI = flag("/HideWindowUI");
}

TkxPageMode PageModeFromName(std::string_view n) {
  if (n == "/UseOutlines") return pmUseOutlines;
  if (n == "/UseThumbs") return pmUseThumbs;
  if (n == "/FullScreen") return pmFullScreen;
  if (n == "/UseOC") return pmUseOC;
  if (n == "/UseAttachments") return pmUseAttachments;
  return pmUseNone;
}

TkxPageLayout PageLayoutFromName(std::string_view n) {
  if (n == "/OneColumn") return plOneColumn;
  if (n == "/TwoColumnLeft") return plTwoColumnLeft;
  if (n == "/TwoColumnRight") return plTwoColumnRight;
  if (n == "/TwoPageLeft") return plTwoPageLeft;
  if (n == "/TwoPageRight") return plTwoPageRight;
  return plSinglePage;
}

std::u16string PDFTextToWide(const TkxPDFStringObject& s) {
  std::string bytes = s.GetBytes();
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF) {
    std::u16string out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      out.push_back(static_cast<char16_t>((static_cast<uint8_t>(bytes[i]) << 8) | static_cast<uint8_t>(bytes[i + 1])));
    return out;
  }
  return AnsiToWide(bytes);
}

void TkxPDFInfo::Assign(const TkxPDFDictObject* dict) {
  Clear();
  if (!dict) return;
  auto text = [dict](const char* key) {
    const TkxPDFStringObject* s = AsString(dict->Lookup(key));
    return s ? PDFTextToWide(*s) : std::u16string();
  };
  Title = text("/Title");
  Author = text("/Author");
  Subject = text("/Subject");
  Keywords = text("/Keywords");
  Creator = text("/Creator");
  Producer = text("/Producer");
  CreationDate = text("/CreationDate");
  ModDate = text("/ModDate");
}

}  // namespace pw
