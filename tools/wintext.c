/* wintext CAPTION: prints what a user sees in the top-level window titled CAPTION, for the
 * Windows desktop test. One line per child control:
 *   CLASS <tab> FOCUS <tab> TEXT
 * FOCUS is 1 for the control that has the keyboard focus, else 0. TEXT is the control's text in
 * the ANSI code page, with backslash, tab, CR and LF escaped as \\ \t \r \n. Exit code 2 when no
 * such window exists. Built with mingw-w64 and run under Wine beside the program it reads. */
#include <stdio.h>
#include <windows.h>

static HWND focus;

static void put_escaped(const char *text) {
  for (; *text; ++text) {
    switch (*text) {
    case '\\':
      fputs("\\\\", stdout);
      break;
    case '\t':
      fputs("\\t", stdout);
      break;
    case '\r':
      fputs("\\r", stdout);
      break;
    case '\n':
      fputs("\\n", stdout);
      break;
    default:
      putchar(*text);
    }
  }
}

static BOOL CALLBACK print_child(HWND child, LPARAM unused) {
  char class_name[256] = "";
  static char text[65536];
  DWORD_PTR copied = 0;
  (void)unused;
  GetClassNameA(child, class_name, sizeof class_name);
  /* GetWindowText does not ask controls of other processes; WM_GETTEXT does. */
  text[0] = '\0';
  if (!SendMessageTimeoutA(child, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000,
                           &copied))
    text[0] = '\0';
  printf("%s\t%d\t", class_name, child == focus);
  put_escaped(text);
  putchar('\n');
  return TRUE;
}

int main(int argc, char **argv) {
  HWND top;
  GUITHREADINFO info;
  if (argc != 2) {
    fputs("usage: wintext CAPTION\n", stderr);
    return 1;
  }
  top = FindWindowA(NULL, argv[1]);
  if (!top)
    return 2;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(top, NULL), &info))
    focus = info.hwndFocus;
  EnumChildWindows(top, print_child, 0);
  fflush(stdout);
  return 0;
}
