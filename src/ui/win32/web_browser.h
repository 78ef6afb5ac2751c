#pragma once
// WebBrowser: the container side of the system's web browser control, embedded in a plain
// host window. It answers the control's questions about its site, its in-place window and its
// user interface (no scroll bars, no 3-D border, links opened in a new window).
//
// A system without an HTML engine makes and activates the control, and navigation succeeds,
// but nothing renders and the document is null (checked before use).

#include <exdisp.h>
#include <mshtmhst.h>
#include <ole2.h>

#include <functional>
#include <string_view>

#include "ui/win32/windows_headers.h"
// Here, not sorted above: <windows.h> must come through windows_headers.h, which takes DrawText away.
#include "platform/win32/win32_handles.h"

namespace Ormel::win32 {

class WebBrowser : public IOleClientSite, public IOleInPlaceSite, public IStorage, public IDocHostUIHandler {
 public:
  // Shows a failure of construction; by default a system message box "Error".
  using ErrorReport = std::function<void(const wchar_t* text)>;

  // Creates the control on `host`, activates it in place and navigates it to "about:blank".
  // Needs the component library initialised on this thread. A failure is reported and leaves
  // an empty pane that ignores later requests.
  explicit WebBrowser(HWND host, ErrorReport report = {});
  virtual ~WebBrowser();
  WebBrowser(const WebBrowser&) = delete;
  WebBrowser& operator=(const WebBrowser&) = delete;

  bool created() const { return static_cast<bool>(webBrowser_); }
  // The web view's rectangle in host-window pixels.
  void SetRect(const RECT& rect);
  void Navigate(std::wstring_view address);
  // The control's own window inside the host; null when not active.
  HWND BrowserWindow();
  // Whether the last navigation found a document to install the user-interface handler on.
  bool handlerInstalled() const { return handlerInstalled_; }
  const RECT& rect() const { return rect_; }
  ULONG references() const { return references_; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD assign, DWORD whichMoniker, IMoniker** moniker) override;
  STDMETHODIMP GetContainer(IOleContainer** container) override;
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceSite
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override;
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO frameInfo) override;
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override;
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

  // IStorage: only the class may be set.
  STDMETHODIMP CreateStream(const OLECHAR*, DWORD, DWORD, DWORD, IStream**) override { return E_NOTIMPL; }
  STDMETHODIMP OpenStream(const OLECHAR*, void*, DWORD, DWORD, IStream**) override { return E_NOTIMPL; }
  STDMETHODIMP CreateStorage(const OLECHAR*, DWORD, DWORD, DWORD, IStorage**) override { return E_NOTIMPL; }
  STDMETHODIMP OpenStorage(const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage**) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(DWORD, const IID*, SNB, IStorage*) override { return E_NOTIMPL; }
  STDMETHODIMP MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP EnumElements(DWORD, void*, DWORD, IEnumSTATSTG**) override { return E_NOTIMPL; }
  STDMETHODIMP DestroyElement(const OLECHAR*) override { return E_NOTIMPL; }
  STDMETHODIMP RenameElement(const OLECHAR*, const OLECHAR*) override { return E_NOTIMPL; }
  STDMETHODIMP SetElementTimes(const OLECHAR*, const FILETIME*, const FILETIME*, const FILETIME*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP SetClass(REFCLSID) override { return S_OK; }
  STDMETHODIMP SetStateBits(DWORD, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }

  // IDocHostUIHandler: the control's own defaults everywhere but the host information.
  STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return E_NOTIMPL; }
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP HideUI() override { return E_NOTIMPL; }
  STDMETHODIMP UpdateUI() override { return E_NOTIMPL; }
  STDMETHODIMP EnableModeless(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetOptionKeyPath(LPOLESTR*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget**) override { return E_NOTIMPL; }
  STDMETHODIMP GetExternal(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject**) override { return E_NOTIMPL; }

 private:
  void Fail(const wchar_t* text);

  ErrorReport report_;
  platform::win32::ComPtr<IOleObject> oleObject_;
  platform::win32::ComPtr<IOleInPlaceObject> inPlaceObject_;
  platform::win32::ComPtr<IWebBrowser2> webBrowser_;
  ULONG references_ = 0;
  RECT rect_ = {-300, -300, 300, 300};
  HWND host_;
  HWND browserWindow_ = nullptr;
  bool handlerInstalled_ = false;
};

}  // namespace Ormel::win32
