#include "ui/win32/web_browser.h"

#include <mshtml.h>

#include <string>

namespace Ormel::win32 {
namespace {

// dialog (page text not selectable), no help menu, no 3-D border, no scroll bars, clicked
// links open in a new window.
constexpr DWORD kHostFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_DISABLE_HELP_MENU | DOCHOSTUIFLAG_NO3DBORDER |
                             DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_OPENNEWWIN;
static_assert(kHostFlags == 0x2F);

// MinGW's libuuid lacks ICustomDoc's identifier; the value is the one <mshtmhst.h> declares.
constexpr IID kCustomDocIid = {0x3050f3f0, 0x98b5, 0x11cf, {0xbb, 0x82, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x0b}};

void ShowError(const wchar_t* text) {
  MessageBoxW(nullptr, text, L"Error", MB_ICONERROR);
}

}  // namespace

WebBrowser::WebBrowser(HWND host, ErrorReport report) : report_(std::move(report)), host_(host) {
  const RECT start = rect_;
  if (FAILED(OleCreate(CLSID_WebBrowser, IID_IOleObject, OLERENDER_DRAW, nullptr, static_cast<IOleClientSite*>(this),
                       static_cast<IStorage*>(this), oleObject_.putVoid())) ||
      !oleObject_) {
    Fail(L"Cannot create oleObject CLSID_WebBrowser");
    return;
  }
  oleObject_->SetClientSite(static_cast<IOleClientSite*>(this));
  OleSetContainedObject(oleObject_.get(), TRUE);
  RECT activation = start;
  if (FAILED(oleObject_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0, host_,
                                &activation))) {
    Fail(L"oleObject->DoVerb() failed");
    return;
  }
  if (FAILED(oleObject_->QueryInterface(IID_IWebBrowser2, webBrowser_.putVoid())) || !webBrowser_) {
    Fail(L"oleObject->QueryInterface(&webBrowser2) failed");
    return;
  }
  if (HWND window = BrowserWindow()) SetWindowLongPtrW(window, GWL_EXSTYLE, WS_EX_TOOLWINDOW);
  // No script error dialogs.
  webBrowser_->put_Silent(VARIANT_TRUE);
  Navigate(L"about:blank");
}

WebBrowser::~WebBrowser() {
  webBrowser_.reset();
  inPlaceObject_.reset();
  if (oleObject_) {
    oleObject_->Close(OLECLOSE_NOSAVE);
    oleObject_->SetClientSite(nullptr);
    OleLockRunning(oleObject_.get(), FALSE, FALSE);
    oleObject_.reset();
  }
}

void WebBrowser::Fail(const wchar_t* text) {
  webBrowser_.reset();
  if (report_) {
    report_(text);
  } else {
    ShowError(text);
  }
}

void WebBrowser::SetRect(const RECT& rect) {
  rect_ = rect;
  if (!webBrowser_) return;
  static const int dpiX = [] {
    platform::win32::ScreenDc screen;
    return GetDeviceCaps(screen.get(), LOGPIXELSX);
  }();
  static const int dpiY = [] {
    platform::win32::ScreenDc screen;
    return GetDeviceCaps(screen.get(), LOGPIXELSY);
  }();
  // HIMETRIC: hundredths of a millimetre.
  SIZEL extent = {MulDiv(2540, rect.right, dpiX) - MulDiv(2540, rect.left, dpiX),
                  MulDiv(2540, rect.bottom, dpiY) - MulDiv(2540, rect.top, dpiY)};
  oleObject_->SetExtent(DVASPECT_CONTENT, &extent);
  if (inPlaceObject_) inPlaceObject_->SetObjectRects(&rect_, &rect_);
}

void WebBrowser::Navigate(std::wstring_view address) {
  if (!webBrowser_) return;
  const std::wstring text(address);
  VARIANT url;
  VariantInit(&url);
  url.vt = VT_BSTR;
  url.bstrVal = SysAllocString(text.c_str());
  VARIANT flags;
  VariantInit(&flags);
  flags.vt = VT_I4;
  flags.lVal = navNoHistory;
  VARIANT empty;
  VariantInit(&empty);
  webBrowser_->Navigate2(&url, &flags, &empty, &empty, &empty);
  VariantClear(&url);

  // Each page gets this object as its user-interface handler. Without an HTML engine there
  // is no document.
  handlerInstalled_ = false;
  platform::win32::ComPtr<IDispatch> document;
  if (FAILED(webBrowser_->get_Document(document.put())) || !document) return;
  platform::win32::ComPtr<IHTMLDocument2> html;
  if (FAILED(document->QueryInterface(IID_IHTMLDocument2, html.putVoid())) || !html) return;
  platform::win32::ComPtr<ICustomDoc> custom;
  if (FAILED(html->QueryInterface(kCustomDocIid, custom.putVoid())) || !custom) return;
  handlerInstalled_ = SUCCEEDED(custom->SetUIHandler(static_cast<IDocHostUIHandler*>(this)));
}

HWND WebBrowser::BrowserWindow() {
  if (browserWindow_ == nullptr && inPlaceObject_) {
    HWND window = nullptr;
    if (SUCCEEDED(inPlaceObject_->GetWindow(&window))) browserWindow_ = window;
  }
  return browserWindow_;
}

STDMETHODIMP WebBrowser::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  // Every interface this object implements, so that the COM identity rules hold.
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
    *object = static_cast<IOleClientSite*>(this);
  } else if (IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow)) {
    *object = static_cast<IOleInPlaceSite*>(this);
  } else if (IsEqualIID(iid, IID_IStorage)) {
    *object = static_cast<IStorage*>(this);
  } else if (IsEqualIID(iid, IID_IDocHostUIHandler)) {
    *object = static_cast<IDocHostUIHandler*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

// The count is kept for the control's sake; the owner deletes this object, not the count.
STDMETHODIMP_(ULONG) WebBrowser::AddRef() {
  return ++references_;
}

STDMETHODIMP_(ULONG) WebBrowser::Release() {
  return references_ > 0 ? --references_ : 0;
}

STDMETHODIMP WebBrowser::GetMoniker(DWORD assign, DWORD whichMoniker, IMoniker** moniker) {
  if (moniker != nullptr) *moniker = nullptr;
  if (whichMoniker == OLEWHICHMK_CONTAINER && assign == OLEGETMONIKER_ONLYIFTHERE) return E_FAIL;
  return E_NOTIMPL;
}

STDMETHODIMP WebBrowser::GetContainer(IOleContainer** container) {
  if (container != nullptr) *container = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP WebBrowser::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = host_;
  return S_OK;
}

STDMETHODIMP WebBrowser::OnInPlaceActivate() {
  if (!oleObject_) return E_UNEXPECTED;
  OleLockRunning(oleObject_.get(), TRUE, FALSE);
  if (SUCCEEDED(oleObject_->QueryInterface(IID_IOleInPlaceObject, inPlaceObject_.putVoid())) && inPlaceObject_) {
    inPlaceObject_->SetObjectRects(&rect_, &rect_);
  }
  return S_OK;
}

STDMETHODIMP WebBrowser::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                          LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) {
  if (frame != nullptr) *frame = nullptr;
  if (document != nullptr) *document = nullptr;
  if (position != nullptr) *position = rect_;
  if (clip != nullptr) *clip = rect_;
  if (frameInfo != nullptr) {
    frameInfo->fMDIApp = FALSE;
    frameInfo->hwndFrame = host_;
    frameInfo->haccel = nullptr;
    frameInfo->cAccelEntries = 0;
  }
  return S_OK;
}

STDMETHODIMP WebBrowser::OnInPlaceDeactivate() {
  inPlaceObject_.reset();
  browserWindow_ = nullptr;
  return S_OK;
}

STDMETHODIMP WebBrowser::GetHostInfo(DOCHOSTUIINFO* info) {
  if (info == nullptr) return E_POINTER;
  info->cbSize = sizeof(DOCHOSTUIINFO);
  info->dwFlags = kHostFlags;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  return S_OK;
}

}  // namespace Ormel::win32
