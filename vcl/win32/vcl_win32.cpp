// The Win32 backend: raw windows and the system's standard BUTTON, STATIC and EDIT controls,
// laid out in pixels at 96 dpi and scaled to the screen's density.
#include "vcl_win32.h"
#include "native.h"

// windows.h names its own charset constants as the layouts do; keep the layer's meaning at hand.
#pragma push_macro("DEFAULT_CHARSET")
#undef DEFAULT_CHARSET
constexpr TFontCharset LayoutDefaultCharset = TFontCharset::DEFAULT_CHARSET;
#pragma pop_macro("DEFAULT_CHARSET")

#include <type_traits>

namespace vcl::native {

namespace {

struct TGdiDeleter {
  void operator()(HGDIOBJ Object) const { DeleteObject(Object); }
};
using TFontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, TGdiDeleter>;
using TBrushHandle = std::unique_ptr<std::remove_pointer_t<HBRUSH>, TGdiDeleter>;

struct THookDeleter {
  void operator()(HHOOK Hook) const { UnhookWindowsHookEx(Hook); }
};
using THookHandle = std::unique_ptr<std::remove_pointer_t<HHOOK>, THookDeleter>;

struct TScreenDC {
  HDC DC = GetDC(nullptr);
  TScreenDC() = default;
  TScreenDC(const TScreenDC &) = delete;
  TScreenDC &operator=(const TScreenDC &) = delete;
  ~TScreenDC() { ReleaseDC(nullptr, DC); }
};

const char FormClass[] = "TForm";
// Marks a window as one of ours and leads back to its widget.
const char WidgetProp[] = "vcl.TWidget";
// The window procedure a message box had before we took it over.
const char BoxProcProp[] = "vcl.BoxProc";

} // namespace

struct TWidget {
  TWidget(TKind AKind, TControl &AControl) : Kind(AKind), Control(AControl) {}
  TKind Kind;
  TControl &Control;
  HWND Handle = nullptr;
  TFontHandle Font;
  COLORREF TextColor = GetSysColor(COLOR_WINDOWTEXT);
  // Forms: the client area's colour, which their labels share.
  TBrushHandle Background;
  COLORREF BackColor = GetSysColor(COLOR_BTNFACE);
  int Left = 0, Top = 0, ClientWidth = 0, ClientHeight = 0;
  // The control that gets the focus whenever the form is activated.
  HWND Focused = nullptr;
  bool QuitOnClose = false;
};

namespace {

TCursor CurrentCursor = crDefault;

TWidget *WidgetOf(HWND Handle) {
  return Handle ? static_cast<TWidget *>(GetPropA(Handle, WidgetProp)) : nullptr;
}

int Dpi() {
  static const int Value = [] {
    TScreenDC Screen;
    return GetDeviceCaps(Screen.DC, LOGPIXELSY);
  }();
  return Value;
}

// Layout pixels (96 dpi) to screen pixels and back.
int Scale(int Value) {
  return MulDiv(Value, Dpi(), 96);
}
int Unscale(int Value) {
  return (Value * 96 + Dpi() - 1) / Dpi();
}

COLORREF ColorRef(TColor Color) {
  if ((Color & 0xFF000000) == 0xFF000000)
    return GetSysColor(static_cast<int>(Color & 0xFF));
  return Color & 0xFFFFFF;
}

TFontHandle MakeFont(const TFont &Font) {
  const TFontStyles &Style = Font.Style;
  const AnsiString &Name = Font.Name;
  return TFontHandle(CreateFontA(
      Scale(Font.Height), 0, 0, 0, Style.contains(fsBold) ? FW_BOLD : FW_NORMAL,
      Style.contains(fsItalic), Style.contains(fsUnderline), Style.contains(fsStrikeOut),
      Font.Charset == LayoutDefaultCharset ? DEFAULT_CHARSET : ANSI_CHARSET, OUT_DEFAULT_PRECIS,
      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Name.c_str()));
}

// While the cursor is not crDefault, it shows over the client area of every window of ours, and
// over windows that a modal box has disabled.
bool ApplyScreenCursor(LPARAM Params) {
  const auto HitTest = static_cast<short>(LOWORD(Params));
  if (CurrentCursor == crDefault || (HitTest != HTCLIENT && HitTest != HTERROR))
    return false;
  ::SetCursor(LoadCursor(nullptr, CurrentCursor == crHourGlass ? IDC_WAIT : IDC_ARROW));
  return true;
}

void ApplyFormBounds(TWidget &W) {
  RECT Frame{0, 0, Scale(W.ClientWidth), Scale(W.ClientHeight)};
  AdjustWindowRectEx(&Frame, static_cast<DWORD>(GetWindowLongPtrA(W.Handle, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(W.Handle, GWL_EXSTYLE)));
  SetWindowPos(W.Handle, nullptr, Scale(W.Left), Scale(W.Top), Frame.right - Frame.left,
               Frame.bottom - Frame.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

bool FormMessage(TWidget &W, UINT Message, WPARAM WParam, LPARAM LParam, LRESULT &Result) {
  switch (Message) {
  case WM_COMMAND:
    if (TWidget *Child = WidgetOf(reinterpret_cast<HWND>(LParam));
        Child && Child->Kind == TKind::Button && HIWORD(WParam) == BN_CLICKED) {
      Child->Control.Click();
      return true;
    }
    return false;
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN: {
    auto *DC = reinterpret_cast<HDC>(WParam);
    if (TWidget *Child = WidgetOf(reinterpret_cast<HWND>(LParam)))
      SetTextColor(DC, Child->TextColor);
    SetBkColor(DC, W.BackColor);
    Result = reinterpret_cast<LRESULT>(W.Background ? W.Background.get()
                                                    : GetSysColorBrush(COLOR_BTNFACE));
    return true;
  }
  case WM_ERASEBKGND: {
    RECT Client;
    GetClientRect(W.Handle, &Client);
    FillRect(reinterpret_cast<HDC>(WParam), &Client,
             W.Background ? W.Background.get() : GetSysColorBrush(COLOR_BTNFACE));
    Result = 1;
    return true;
  }
  case WM_SETCURSOR:
    Result = TRUE;
    return ApplyScreenCursor(LParam);
  case WM_ACTIVATE:
    if (LOWORD(WParam) == WA_INACTIVE) {
      if (HWND Focus = GetFocus(); Focus && IsChild(W.Handle, Focus))
        W.Focused = Focus;
      return false;
    }
    if (HIWORD(WParam)) // minimised: the focus waits for the restore
      return false;
    [[fallthrough]];
  case WM_SETFOCUS:
    if (!W.Focused || !IsWindow(W.Focused))
      return false;
    ::SetFocus(W.Focused);
    return true;
  case WM_NEXTDLGCTL: // a multi-line text box passes Tab on this way, as in a dialog
    ::SetFocus(LOWORD(LParam) ? reinterpret_cast<HWND>(WParam)
                              : GetNextDlgTabItem(W.Handle, GetFocus(), WParam != 0));
    return true;
  case WM_CLOSE:
    ShowWindow(W.Handle, SW_HIDE);
    if (W.QuitOnClose)
      PostQuitMessage(0);
    return true;
  default:
    return false;
  }
}

LRESULT CALLBACK FormProc(HWND Handle, UINT Message, WPARAM WParam, LPARAM LParam) {
  TWidget *W = WidgetOf(Handle);
  LRESULT Result = 0;
  bool Handled = false;
  if (W)
    Dispatch([&] { Handled = FormMessage(*W, Message, WParam, LParam, Result); });
  return Handled ? Result : DefWindowProcA(Handle, Message, WParam, LParam);
}

// A message box of ours: the screen cursor over it too.
LRESULT CALLBACK BoxProc(HWND Handle, UINT Message, WPARAM WParam, LPARAM LParam) {
  auto Previous = reinterpret_cast<WNDPROC>(GetPropA(Handle, BoxProcProp));
  if (Message == WM_SETCURSOR && ApplyScreenCursor(LParam))
    return TRUE;
  if (Message == WM_NCDESTROY) {
    SetWindowLongPtrW(Handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Previous));
    RemovePropA(Handle, BoxProcProp);
  }
  return CallWindowProcW(Previous, Handle, Message, WParam, LParam);
}

// Catches the message box as it is first activated: centres it on its screen and takes over its
// window procedure.
LRESULT CALLBACK BoxHook(int Code, WPARAM WParam, LPARAM LParam) {
  auto *Handle = reinterpret_cast<HWND>(WParam);
  char Class[16] = "";
  if (Code == HCBT_ACTIVATE && GetClassNameA(Handle, Class, sizeof Class) &&
      lstrcmpA(Class, "#32770") == 0 && !GetPropA(Handle, BoxProcProp)) {
    MONITORINFO Monitor{};
    Monitor.cbSize = sizeof Monitor;
    GetMonitorInfoA(MonitorFromWindow(Handle, MONITOR_DEFAULTTONEAREST), &Monitor);
    RECT Box;
    GetWindowRect(Handle, &Box);
    const RECT &Area = Monitor.rcMonitor;
    SetWindowPos(Handle, nullptr, Area.left + (Area.right - Area.left - (Box.right - Box.left)) / 2,
                 Area.top + (Area.bottom - Area.top - (Box.bottom - Box.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetPropA(Handle, BoxProcProp,
             reinterpret_cast<HANDLE>(GetWindowLongPtrW(Handle, GWLP_WNDPROC)));
    SetWindowLongPtrW(Handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BoxProc));
  }
  return CallNextHookEx(nullptr, Code, WParam, LParam);
}

// Keys as a dialog has them: Enter clicks the focused button, Tab moves between controls.
void HandleMessage(MSG &Message) {
  if (Message.message == WM_KEYDOWN && Message.wParam == VK_RETURN) {
    HWND Focus = GetFocus();
    if (TWidget *W = WidgetOf(Focus); W && W->Kind == TKind::Button) {
      SendMessageA(GetParent(Focus), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(Focus), BN_CLICKED),
                   reinterpret_cast<LPARAM>(Focus));
      return;
    }
  }
  HWND Root = GetAncestor(Message.hwnd, GA_ROOT);
  if (const TWidget *Form = WidgetOf(Root); Form && IsDialogMessageA(Root, &Message))
    return;
  TranslateMessage(&Message);
  DispatchMessageA(&Message);
}

BOOL CALLBACK ForgetChild(HWND Child, LPARAM) {
  if (TWidget *C = WidgetOf(Child))
    C->Handle = nullptr;
  RemovePropA(Child, WidgetProp);
  return TRUE;
}

std::string ToWindowsLines(const AnsiString &Text) {
  std::string Result;
  for (char C : Text) {
    if (C == '\n' && (Result.empty() || Result.back() != '\r'))
      Result += '\r';
    Result += C;
  }
  return Result;
}

} // namespace

TWidgetPtr Create(TKind Kind, TControl &Control, TWidget *Parent) {
  static int NextId = 100; // clear of IDOK and IDCANCEL, which the dialog keys send
  auto W = TWidgetPtr(new TWidget(Kind, Control));
  HINSTANCE Instance = GetModuleHandleA(nullptr);
  HWND ParentHandle = Parent ? Parent->Handle : nullptr;
  auto *Id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(NextId++));
  const DWORD Child = WS_CHILD | WS_VISIBLE;
  switch (Kind) {
  case TKind::Form:
    W->Handle =
        CreateWindowExA(0, FormClass, "", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                        CW_USEDEFAULT, 0, 0, nullptr, nullptr, Instance, nullptr);
    break;
  case TKind::Button:
    W->Handle = CreateWindowExA(0, "BUTTON", "", Child | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                                ParentHandle, Id, Instance, nullptr);
    break;
  case TKind::Label:
    W->Handle = CreateWindowExA(0, "STATIC", "", Child | SS_LEFTNOWORDWRAP, 0, 0, 0, 0,
                                ParentHandle, Id, Instance, nullptr);
    break;
  case TKind::Memo:
    // Without ES_AUTOVSCROLL the box would refuse text once its visible lines are full.
    W->Handle = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                                Child | WS_TABSTOP | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL |
                                    ES_WANTRETURN,
                                0, 0, 0, 0, ParentHandle, Id, Instance, nullptr);
    if (W->Handle)
      SendMessageA(W->Handle, EM_SETLIMITTEXT, 0, 0);
    break;
  }
  if (!W->Handle)
    throw Exception("Cannot create the window of '" + Control.Name + "'");
  SetPropA(W->Handle, WidgetProp, W.get());
  return W;
}

void Destroy(TWidget *W) {
  if (W->Handle && IsWindow(W->Handle)) {
    // Its child windows go with it; their widgets must not destroy them again.
    EnumChildWindows(W->Handle, ForgetChild, 0);
    RemovePropA(W->Handle, WidgetProp);
    DestroyWindow(W->Handle);
  }
  delete W;
}

void SetBounds(TWidget &W, int Left, int Top, int Width, int Height) {
  if (W.Kind != TKind::Form) {
    MoveWindow(W.Handle, Scale(Left), Scale(Top), Scale(Width), Scale(Height), TRUE);
    return;
  }
  W.Left = Left;
  W.Top = Top;
  W.ClientWidth = Width;
  W.ClientHeight = Height;
  ApplyFormBounds(W);
}

void SetText(TWidget &W, const AnsiString &Text) {
  SetWindowTextA(W.Handle, W.Kind == TKind::Memo ? ToWindowsLines(Text).c_str() : Text.c_str());
}

AnsiString GetText(const TWidget &W) {
  std::string Buffer(static_cast<size_t>(GetWindowTextLengthA(W.Handle)) + 1, '\0');
  Buffer.resize(static_cast<size_t>(
      GetWindowTextA(W.Handle, Buffer.data(), static_cast<int>(Buffer.size()))));
  AnsiString Text;
  for (char C : Buffer)
    if (C != '\r')
      Text += C;
  return Text;
}

// At the end, on a line of its own, as typing it there would.
void AppendLine(TWidget &W, const AnsiString &Line) {
  const int Length = GetWindowTextLengthA(W.Handle);
  std::string Added = ToWindowsLines(Line) + "\r\n";
  if (Length > 0) {
    const AnsiString Text = GetText(W);
    if (Text.back() != '\n')
      Added = "\r\n" + Added;
  }
  SendMessageA(W.Handle, EM_SETSEL, static_cast<WPARAM>(Length), Length);
  SendMessageA(W.Handle, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(Added.c_str()));
}

void SetFont(TWidget &W, const TFont &Font) {
  TFontHandle New = MakeFont(Font);
  W.TextColor = ColorRef(Font.Color);
  if (W.Kind != TKind::Form)
    SendMessageA(W.Handle, WM_SETFONT, reinterpret_cast<WPARAM>(New.get()), TRUE);
  W.Font = std::move(New);
  InvalidateRect(W.Handle, nullptr, TRUE);
}

void SetColor(TWidget &W, TColor Color) {
  W.BackColor = ColorRef(Color);
  W.Background.reset(CreateSolidBrush(W.BackColor));
  InvalidateRect(W.Handle, nullptr, TRUE);
}

void SetFrame(TWidget &W, TFormBorderStyle Style, const TBorderIcons &Icons) {
  LONG_PTR Styles =
      (GetWindowLongPtrA(W.Handle, GWL_STYLE) & (WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE)) |
      WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
  LONG_PTR ExStyles = 0;
  if (Icons.contains(biSystemMenu))
    Styles |= WS_SYSMENU;
  if (Style == bsSizeable)
    Styles |= WS_THICKFRAME;
  if (Style == bsDialog)
    ExStyles |= WS_EX_DLGMODALFRAME;
  else {
    if (Icons.contains(biMinimize))
      Styles |= WS_MINIMIZEBOX;
    if (Icons.contains(biMaximize))
      Styles |= WS_MAXIMIZEBOX;
  }
  SetWindowLongPtrA(W.Handle, GWL_STYLE, Styles);
  SetWindowLongPtrA(W.Handle, GWL_EXSTYLE, ExStyles);
  ApplyFormBounds(W);
}

// The dialog keys follow the windows' stacking order.
void SetTabOrder(const std::vector<TWidget *> &Order) {
  HWND After = HWND_TOP;
  for (TWidget *W : Order) {
    SetWindowPos(W->Handle, After, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    After = W->Handle;
  }
}

void SetFocus(TWidget &W) {
  HWND Root = GetAncestor(W.Handle, GA_ROOT);
  if (TWidget *Form = WidgetOf(Root))
    Form->Focused = W.Handle;
  if (GetActiveWindow() == Root)
    ::SetFocus(W.Handle);
}

void Show(TWidget &W, TPosition Position) {
  if (Position != poDesigned) {
    RECT Frame;
    GetWindowRect(W.Handle, &Frame);
    RECT Area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (Position == poDesktopCenter) {
      Area.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
      Area.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
      Area.right = Area.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
      Area.bottom = Area.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    }
    SetWindowPos(W.Handle, nullptr,
                 Area.left + (Area.right - Area.left - (Frame.right - Frame.left)) / 2,
                 Area.top + (Area.bottom - Area.top - (Frame.bottom - Frame.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The first window follows the show command the program was started with.
  static bool First = true;
  int Command = SW_SHOWNORMAL;
  if (First) {
    First = false;
    STARTUPINFOA Startup{};
    Startup.cb = sizeof Startup;
    GetStartupInfoA(&Startup);
    if ((Startup.dwFlags & STARTF_USESHOWWINDOW) &&
        (Startup.wShowWindow == SW_SHOWMAXIMIZED || Startup.wShowWindow == SW_SHOWMINNOACTIVE))
      Command = Startup.wShowWindow;
  }
  if (!IsWindowVisible(W.Handle))
    ShowWindow(W.Handle, Command);
  if (Command != SW_SHOWMINNOACTIVE)
    SetForegroundWindow(W.Handle);
  UpdateWindow(W.Handle);
}

TSize TextExtent(const TFont &Font, const AnsiString &Text) {
  TFontHandle Measured = MakeFont(Font);
  TScreenDC ScreenDC;
  HGDIOBJ Previous = SelectObject(ScreenDC.DC, Measured.get());
  SIZE Size{};
  GetTextExtentPoint32A(ScreenDC.DC, Text.c_str(), static_cast<int>(Text.size()), &Size);
  SelectObject(ScreenDC.DC, Previous);
  return {Unscale(Size.cx), Unscale(Size.cy)};
}

void Initialize(const AnsiString &) {
  // The layout is scaled to the screen's density here. Windows 8.1 and later show a program that
  // does not say so at 96 dpi, stretched as a bitmap: blurred text at 125 % and more. A call, as
  // the program keeps no manifest; before any window or screen measure.
  SetProcessDPIAware();
  static const bool Registered = [] {
    HINSTANCE Instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA Class{};
    Class.cbSize = sizeof Class;
    Class.style = CS_DBLCLKS;
    Class.lpfnWndProc = FormProc;
    Class.hInstance = Instance;
    Class.hIcon = LoadIconA(Instance, "MAINICON");
    Class.hIconSm = static_cast<HICON>(LoadImageA(Instance, "MAINICON", IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), 0));
    Class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    Class.lpszClassName = FormClass;
    return RegisterClassExA(&Class) != 0;
  }();
  if (!Registered)
    throw Exception("Cannot register the window class");
}

void Run(TWidget &MainForm) {
  MainForm.QuitOnClose = true;
  if (!IsWindowVisible(MainForm.Handle))
    return;
  MSG Message;
  while (GetMessageA(&Message, nullptr, 0, 0) > 0)
    HandleMessage(Message);
}

void ProcessMessages() {
  MSG Message;
  while (PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE)) {
    if (Message.message == WM_QUIT) {
      // Left for the loop that is waiting for it.
      PostQuitMessage(static_cast<int>(Message.wParam));
      return;
    }
    HandleMessage(Message);
  }
}

// Takes effect at once under the mouse; windows ask again as it moves.
void SetCursor(TCursor Cursor) {
  CurrentCursor = Cursor;
  POINT At;
  HWND Under = GetCursorPos(&At) ? WindowFromPoint(At) : nullptr;
  if (!Under || GetWindowThreadProcessId(Under, nullptr) != GetCurrentThreadId())
    return;
  auto HitTest = SendMessageA(Under, WM_NCHITTEST, 0, MAKELPARAM(At.x, At.y));
  SendMessageA(Under, WM_SETCURSOR, reinterpret_cast<WPARAM>(Under),
               MAKELPARAM(HitTest, WM_MOUSEMOVE));
}

void ShowMessageBox(const AnsiString &Caption, const AnsiString &Text) {
  HWND Owner = GetActiveWindow();
  THookHandle Hook(SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId()));
  MessageBoxA(Owner, Text.c_str(), Caption.c_str(), MB_OK | (Owner ? 0 : MB_TASKMODAL));
}

std::string ExecutablePath() {
  std::string Path(MAX_PATH, '\0');
  for (;;) {
    DWORD Length = GetModuleFileNameA(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
    if (Length < Path.size()) {
      Path.resize(Length);
      return Path;
    }
    Path.resize(Path.size() * 2);
  }
}

std::optional<std::string> LoadResource(const std::string &Name) {
  HRSRC Found = FindResourceA(nullptr, Name.c_str(), RT_RCDATA);
  HGLOBAL Loaded = Found ? ::LoadResource(nullptr, Found) : nullptr;
  const void *Data = Loaded ? LockResource(Loaded) : nullptr;
  if (!Data)
    return std::nullopt;
  return std::string(static_cast<const char *>(Data), SizeofResource(nullptr, Found));
}

} // namespace vcl::native

HWND vcl::win32::HandleOf(const TControl &Control) {
  return Control.Native() ? Control.Native()->Handle : nullptr;
}
