// The document component: the catalog, the page tree and the pages, read in
// when first asked for and freed when deleted.
#include "pdf/kxCstPDFDoc.h"

#include <unordered_set>

#include "pdf/kxCstPDFDocInternal.h"

namespace pw {

using namespace cstpdfdoc;

namespace {

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

}  // namespace

// ---------------------------------------------------------------------------
// Structure

TkxPDFDictObject* TkxCustomPDFDocument::CatalogDict() const {
  return catalogObj_ ? AsDict(catalogObj_->Value.get()) : nullptr;
}

void TkxCustomPDFDocument::ReadStructure() {
  if (OnBeginRead) OnBeginRead(this);
  ReadObjectStreams();
  storeAllowed_ = true;
  if (trailer_.RootObjectNumber <= 0) throw EPDFFileCorruptedError(kCorrupted);
  catalogObj_ = FetchObject(trailer_.RootObjectNumber, trailer_.RootGeneration, nullptr);
  TkxPDFDictObject* cat = CatalogDict();
  if (!cat) throw EPDFFileCorruptedError(kCorrupted);
  catalogObj_->AddRef();

  if (const TkxPDFNameObject* m = AsName(ResolveOnDemand(cat->Lookup("/PageMode"))))
    pageMode_ = PageModeFromName(m->Text);
  if (const TkxPDFNameObject* l = AsName(ResolveOnDemand(cat->Lookup("/PageLayout"))))
    pageLayout_ = PageLayoutFromName(l->Text);
  catalog_.ViewerPreferences.Assign(AsDict(ResolveOnDemand(cat->Lookup("/ViewerPreferences"))));
  if (const TkxPDFObject* md = cat->Lookup("/Metadata")) catalog_.Metadata = md->Clone();

  Progress(10);
  Status(kTraversing);
  WalkPageTree(cat->Lookup("/Pages"));
  Progress(75);
  Progress(30);
  // What the pages' form fields and annotations need.
  Status("Processing Annotations...");
  // A page's annotations are read in with the page.
  for (size_t i = 0; i < pages_.size(); ++i) Status("Processing Annotations...");
  Progress(90);
  if (TkxPDFObject* acro = cat->Lookup("/AcroForm")) {
    catalog_.AcroForm = acro->Clone();
    LoadObject(acro);
    Status("AcroForms Processed");
  }
  if (const TkxPDFObject* v = cat->Lookup("/OpenAction")) catalog_.OpenAction = v->Clone();
  if (const TkxPDFObject* v = cat->Lookup("/AA")) catalog_.AA = v->Clone();
  if (const TkxPDFObject* v = cat->Lookup("/Names")) catalog_.Names = v->Clone();
  Progress(60);
  Progress(100);
  if (trailer_.Info) {
    try {
      PDFObjectPtr info = DeepResolve(trailer_.Info.get(), kMaxControlObjects);
      info_.Assign(AsDict(info.get()));
    } catch (const Exception&) {
      // The information dictionary is not needed to read the pages.
    }
  }
  isLoaded_ = true;
  Status(FormatMsg("Document read complete. Pages read = %d", PageCount()));
  if (OnEndRead) OnEndRead(this);
}

void TkxCustomPDFDocument::WalkPageTree(TkxPDFObject* rootRef) {
  static constexpr const char* kInherited[] = {"/Rotate", "/MediaBox", "/Resources", "/CropBox"};
  struct Frame {
    std::shared_ptr<TkxPDFDictObject> attrs;  // inherited attributes for the kids
    TkxPDFArrayObject* kids;
    int next;
  };
  std::vector<Frame> stack;
  std::unordered_set<int32_t> visited;

  auto visit = [&](TkxPDFObject* ref, const std::shared_ptr<TkxPDFDictObject>& inherited) {
    const TkxPDFIndirectReference* r = AsReference(ref);
    if (!r) throw Exception("Invalid class typecast");
    // A node listed twice, or a cycle through /Kids, is walked once.
    if (!visited.insert(r->ObjectNumber).second) {
      Warning(FormatMsg("Page tree node %d is listed more than once", r->ObjectNumber), r->ObjectNumber);
      return;
    }
    TkxPDFIndirectObject* node = FetchObject(r->ObjectNumber, r->Generation, nullptr);
    if (!node) {
      Warning(FormatMsg("Page tree node %d is missing", r->ObjectNumber), r->ObjectNumber);
      return;
    }
    TkxPDFDictObject* dict = AsDict(node->Value.get());
    if (!dict) throw EUnexpectedError("Unexpected Error");
    const TkxPDFNameObject* type = AsName(ResolveOnDemand(dict->Lookup("/Type")));
    if (!type) throw EUnexpectedError("Unexpected Error");
    if (type->Text == "/Pages") {
      Frame f{nullptr, nullptr, 0};
      if (inherited) f.attrs.reset(static_cast<TkxPDFDictObject*>(inherited->Clone().release()));
      for (const char* key : kInherited) {
        if (const TkxPDFObject* v = dict->Lookup(key)) {
          if (!f.attrs) f.attrs = std::make_shared<TkxPDFDictObject>();
          f.attrs->SetValue(key, v->Clone());
        }
      }
      f.kids = AsArray(ResolveOnDemand(dict->Lookup("/Kids")));
      stack.push_back(std::move(f));
    } else if (type->Text == "/Page") {
      // The page, and what it uses, is read in when it is first asked for;
      // a page that cannot be read from the file again is kept as it is.
      PageSlot slot{node->ObjectNumber, node->Generation, inherited, false};
      pageNumbers_.insert(node->ObjectNumber);
      if (Rereadable(node->ObjectNumber)) {
        store_.Free(store_.IndexOfObject(documentId_, slot.ObjectNumber, slot.Generation));
        attempted_.erase(slot.ObjectNumber);
        node = nullptr;
      } else {
        PreparePage(node, inherited.get());
      }
      Status(kTraversing);
      pages_.push_back(node);
      pageSlots_.push_back(std::move(slot));
    } else {
      throw EUnexpectedError("Unexpected Error");
    }
  };

  visit(rootRef, nullptr);
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (!top.kids || top.next >= top.kids->Count()) {
      stack.pop_back();
      continue;
    }
    TkxPDFObject* kid = top.kids->Get(top.next++);
    const std::shared_ptr<TkxPDFDictObject> attrs = top.attrs;
    visit(kid, attrs);  // may grow the stack: `top` is not used afterwards
    Status(kTraversing);
  }
}

// ---------------------------------------------------------------------------
// Pages

TkxPDFIndirectObject* TkxCustomPDFDocument::GetPage(int page) const {
  if (page < 1 || page > PageCount()) throw EInvalidPageError(FormatMsg("Invalid page number (%d)", page));
  const size_t index = static_cast<size_t>(page - 1);
  // Reading the page in changes the store, not what the document says.
  if (!pageSlots_[index].Loaded) const_cast<TkxCustomPDFDocument*>(this)->LoadPage(index);
  return pages_[index];
}

void TkxCustomPDFDocument::PreparePage(TkxPDFIndirectObject* node, const TkxPDFDictObject* inherited) {
  node->AddRef();
  TkxPDFDictObject* dict = AsDict(node->Value.get());
  if (!dict) return;
  dict->Remove("/Parent");
  dict->Remove("/B");
  if (inherited) {
    for (int i = 0; i < inherited->Count(); ++i) {
      const std::string& key = inherited->KeyAt(i)->Text;
      if (dict->IndexOf(key) < 0 && inherited->ValueAt(i)) dict->AddObject(key, inherited->ValueAt(i)->Clone());
    }
  }
}

void TkxCustomPDFDocument::LoadPage(size_t index) {
  PageSlot& slot = pageSlots_[index];
  slot.Loaded = true;
  if (!pages_[index]) {
    // Read as when the page tree was walked; should the file no longer give
    // it, the page is an empty one rather than a hole in the list.
    attempted_.erase(slot.ObjectNumber);
    TkxPDFIndirectObject* node = nullptr;
    try {
      node = FetchObject(slot.ObjectNumber, slot.Generation, nullptr);
    } catch (const ELimitExceeded&) {
      throw;
    } catch (const Exception& e) {
      Warning(e.what(), slot.ObjectNumber);
    }
    if (!node || !AsDict(node->Value.get()))
      node = store_.Add(std::make_unique<TkxPDFIndirectObject>(documentId_, slot.ObjectNumber,
                                                               static_cast<uint16_t>(slot.Generation),
                                                               std::make_unique<TkxPDFDictObject>()));
    PreparePage(node, slot.Inherited.get());
    pages_[index] = node;
  }
  TkxPDFDictObject* dict = AsDict(pages_[index]->Value.get());
  if (dict && reader_)
    for (int i = 0; i < dict->Count(); ++i)
      if (dict->KeyAt(i)->Text != "/B") LoadObject(dict->ValueAt(i));
  // Only now are the objects of deleted pages freed: what this page uses
  // again (fonts shared by consecutive pages) is held once more and stays.
  FreeUnheld(unheld_);
}

bool TkxCustomPDFDocument::Rereadable(int32_t num) const {
  // Objects of object streams, and anything of a rebuilt file, are read once.
  if (!reader_ || repaired_) return false;
  auto st = xrefStm_.find(num);
  if (st != xrefStm_.end() && st->second.Type == 2) return false;
  return LookupOffset(num) > 0;
}

void TkxCustomPDFDocument::DropReferences(const TkxPDFObject* root, std::vector<TkxObjectKey>& unheld) {
  // The same walk as LoadObject's, counting down.
  auto onReference = [this, &unheld](const TkxPDFIndirectReference* r, auto) {
    if (r->ObjectNumber <= 0 || pageNumbers_.count(r->ObjectNumber)) return;
    auto it = holders_.find(TkxObjectKey{documentId_, r->ObjectNumber, r->Generation});
    if (it == holders_.end()) return;
    if (--it->second <= 0) {
      unheld.push_back(it->first);
      holders_.erase(it);
    }
  };
  WalkObjectTree(root, onReference, [] {});
}

void TkxCustomPDFDocument::FreeUnheld(std::vector<TkxObjectKey>& unheld) {
  while (!unheld.empty()) {
    const TkxObjectKey key = unheld.back();
    unheld.pop_back();
    if (key.ObjectNumber == trailer_.RootObjectNumber || !Rereadable(key.ObjectNumber)) continue;
    if (auto held = holders_.find(key); held != holders_.end() && held->second > 0) continue;
    // A dictionary or array freed once and needed again serves pages far
    // apart (the widths of a font of every heading): reading it is costlier
    // than keeping it, up to a bounded number of such objects, so that a
    // long document does not come to keep every one of them. Streams, which
    // carry the bulk, are always freed.
    const int idx = store_.IndexOfObject(key.DocumentID, key.ObjectNumber, key.Generation);
    if (idx < 0) continue;
    const bool stream = IsStream(store_.Get(idx)->Value.get());
    if (!stream && !freedOnce_.insert(key.ObjectNumber).second) {
      if (kept_.count(key.ObjectNumber)) continue;
      if (kept_.size() < kMaxKeptObjects) {
        kept_.insert(key.ObjectNumber);
        continue;
      }
    }
    if (store_.IsLoaded(idx)) DropReferences(store_.Get(idx)->Value.get(), unheld);
    store_.Free(idx);
    attempted_.erase(key.ObjectNumber);  // may be read again for a later page
  }
}

TkxPDFDictObject* TkxCustomPDFDocument::GetPageDict(int page) const { return AsDict(GetPage(page)->Value.get()); }

int TkxCustomPDFDocument::GetPageRotation(int page) const {
  TkxPDFDictObject* dict = GetPageDict(page);
  const TkxPDFObject* v = store_.ResolveAny(dict ? dict->Lookup("/Rotate") : nullptr);
  if (!IsNumber(v)) return 0;
  int64_t r = IntValue(v) % 360;
  if (r < 0) r += 360;
  // Only quarter turns exist; anything else is ignored as viewers do.
  return r % 90 == 0 ? static_cast<int>(r) : 0;
}

std::array<double, 4> TkxCustomPDFDocument::GetPageMediaBox(int page) const {
  TkxPDFDictObject* dict = GetPageDict(page);
  std::array<double, 4> box{0, 0, 612, 792};
  const TkxPDFArrayObject* a = AsArray(store_.ResolveAny(dict ? dict->Lookup("/MediaBox") : nullptr));
  if (!a || a->Count() < 4) return box;
  std::array<double, 4> out{};
  for (int i = 0; i < 4; ++i) {
    const TkxPDFObject* v = store_.ResolveAny(a->Get(i));
    if (!IsNumber(v)) return box;
    out[static_cast<size_t>(i)] = NumberValue(v);
  }
  return out;
}

std::vector<int> TkxCustomPDFDocument::ParsePageRange(const std::string& text, int pageCount) {
  std::vector<std::string> items;
  {
    std::string cur;
    bool quoted = false, any = false;
    for (char c : text) {
      if (c == '"') {
        quoted = !quoted;
        any = true;
      } else if (!quoted && (c == ',' || c == ' ' || c == '\t')) {
        if (any) items.push_back(cur);
        cur.clear();
        any = false;
      } else {
        cur += c;
        any = true;
      }
    }
    if (any) items.push_back(cur);
  }
  if (Trim(text).empty()) items = {"1-" + std::to_string(pageCount)};

  std::vector<int> pages;
  for (const std::string& item : items) {
    auto rangeError = [&item]() { return EInvalidPageError(FormatMsg("Invalid page range (%s)", item)); };
    size_t dash = item.find('-');
    if (dash != std::string::npos) {
      std::string a = Trim(std::string_view(item).substr(0, dash));
      std::string b = Trim(std::string_view(item).substr(dash + 1));
      int64_t first = 1, last = pageCount;
      if (!a.empty() && !ParseInteger(a, first)) throw rangeError();
      if (!b.empty() && !ParseInteger(b, last)) throw rangeError();
      if (first < 1 || last < first || last > pageCount) throw rangeError();
      for (int64_t p = first; p <= last; ++p) pages.push_back(static_cast<int>(p));
    } else {
      int64_t n = 0;
      if (!ParseInteger(Trim(item), n)) throw rangeError();
      if (n < 1 || n > pageCount) throw EInvalidPageError(FormatMsg("Invalid page number (%d)", n));
      pages.push_back(static_cast<int>(n));
    }
  }
  return pages;
}

void TkxCustomPDFDocument::ReleasePage(TkxPDFIndirectObject* page,
                                       const std::unordered_set<const TkxPDFIndirectObject*>& pages) {
  page->RefCount = 1;
  page->Release();
  // Lower the count of everything the page uses, once each, without
  // descending into other pages.
  std::unordered_set<const TkxPDFIndirectObject*> seen{page};
  auto onReference = [this, &pages, &seen](const TkxPDFIndirectReference* r, auto push) {
    TkxPDFIndirectObject* t = store_.Find(*r);
    if (!t || pages.count(t) || !seen.insert(t).second) return;
    t->Release();
    push(t->Value.get());
  };
  WalkObjectTree(static_cast<const TkxPDFObject*>(page->Value.get()), onReference, [] {});
}

void TkxCustomPDFDocument::DeletePages(const std::string& range) {
  std::vector<int> numbers = ParsePageRange(range, PageCount());
  std::vector<bool> named(pages_.size(), false);
  for (int n : numbers) {
    if (named[static_cast<size_t>(n - 1)]) throw EInvalidPageError(FormatMsg("Invalid page range (%s)", range));
    named[static_cast<size_t>(n - 1)] = true;
  }
  std::unordered_set<const TkxPDFIndirectObject*> all;
  for (TkxPDFIndirectObject* page : pages_)
    if (page) all.insert(page);
  // Objects left unheld by an earlier deletion that no page read in since.
  FreeUnheld(unheld_);
  for (int n : numbers) {
    const size_t index = static_cast<size_t>(n - 1);
    TkxPDFIndirectObject* page = pages_[index];
    if (!page) continue;  // never read in: nothing to release
    ReleasePage(page, all);
    // The page and what nothing else holds are freed; shared objects stay.
    if (pageSlots_[index].Loaded) {
      const TkxPDFDictObject* dict = AsDict(page->Value.get());
      for (int i = 0; dict && i < dict->Count(); ++i)
        if (dict->KeyAt(i)->Text != "/B") DropReferences(dict->ValueAt(i), unheld_);
    }
    store_.Free(store_.IndexOfObject(page->DocumentID, page->ObjectNumber, page->Generation));
  }
  std::vector<TkxPDFIndirectObject*> keptPages;
  std::vector<PageSlot> keptSlots;
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (named[i]) continue;
    keptPages.push_back(pages_[i]);
    keptSlots.push_back(std::move(pageSlots_[i]));
  }
  pages_ = std::move(keptPages);
  pageSlots_ = std::move(keptSlots);
  Status(FormatMsg("%d pages deleted", static_cast<long long>(numbers.size())));
}

}  // namespace pw
