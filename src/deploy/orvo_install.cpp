// OrvoInstall: the deferred action that installs the files of the chosen
// Orvos from their cabinets.
#include "action/frame.h"
#include "action/installer_session.h"
#include "deploy/cabinet_extractor.h"
#include "catalog/orvo_model.h"
#include "deploy/install_files.h"
#include "documents/text_lists.h"
#include "documents/xml_document.h"
#include "media/media_locator.h"

namespace {

// Shows the package's progress window while the action runs, and hides it
// again on every way out.
class ShownWindow {
 public:
  explicit ShownWindow(const std::wstring& title) {
    if (!title.empty()) window_ = FindWindowW(nullptr, title.c_str());
    if (window_) ShowWindow(window_, SW_SHOW);
  }
  ~ShownWindow() {
    if (window_) ShowWindow(window_, SW_HIDE);
  }
  ShownWindow(const ShownWindow&) = delete;
  ShownWindow& operator=(const ShownWindow&) = delete;

 private:
  HWND window_ = nullptr;
};

}  // namespace

extern "C" UINT __stdcall OrvoInstall(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoInstall", [&]() -> UINT {
    using namespace orvo;
    Frame frame(handle, L"OrvoInstall");
    // Inside the installer no one reads the extractor's console lines, and
    // writing and flushing one per file costs more than the extraction.
    SetExtractDiagnostics(false);
    auto& session = InstallerSession::Instance();
    MediaLocator::Instance().SetLogPath(L"orvo_Install.log");

    std::wstring data = session.GetProperty(L"CustomActionData");
    session.Classify(FieldAt(data, 0));
    ShownWindow window(FieldAt(data, 2));
    MediaLocator::Instance().SetTransferLimits(FieldAt(data, 3), FieldAt(data, 4));
    unsigned type = session.installType();
    if (type & IT_UNINSTALL) {
      session.Log(L" => Nothing to do!");
      return ERROR_SUCCESS;
    }

    XmlDocument master;
    DomDocument* document = nullptr;
    if (!LoadDocument(master, FieldAt(data, 1), document, WriteToInstallLog) || !document) return ERROR_SUCCESS;
    MediaLocator::Instance().SetUp(ChildText(master.root(), L"MediaRoot"), ChildText(master.root(), L"URL"));

    OrvoCatalog catalog;
    catalog.Load(master, !(type & IT_SECONDARY));
    unsigned result = InstallFiles(master, catalog);
    if (result != ERROR_SUCCESS) {
      session.Log(L"!=> OrvoInstall returning %d", result);
      return result;
    }
    if (master.changed() && !(type & IT_SECONDARY)) master.Save(L"UTF-16", L"\r\n");
    session.Log(L" => OrvoInstall complete");
    return ERROR_SUCCESS;
  });
}
