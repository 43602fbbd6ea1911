/* What a program inside a terminal receives, for the end-to-end tests: run as the terminal's
 * command, it asks for bracketed paste, takes its terminal's input byte by byte (no line editing,
 * no echo, no flow control, carriage returns kept) with the keyboard signals left on, and writes
 *   <dir>/bytes     every byte read, as read
 *   <dir>/signals   the name of each keyboard signal received, one a line
 *   <dir>/pid       its process id
 *   <dir>/ready     once all of that is set up
 * so a paste's text, a stray ^V (0x16) or ^C (0x03 or SIGINT) is seen by the test as it is. With
 * a second argument, a text in base64, each SIGUSR1 has the terminal select that text (OSC 52 on
 * the primary selection, which xterm allows when told to), as a user's drag over it would: the
 * test sends it once the terminal has the focus, since XWayland passes on no selection taken
 * before an X11 window was first focused.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

static int signals_fd = -1;
static char select_escape[4096];
static size_t select_escape_size = 0;

static void write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n <= 0) return;
    data += n;
    size -= (size_t)n;
  }
}

static void on_signal(int sig) {
  const char* name = sig == SIGINT ? "SIGINT\n" : sig == SIGQUIT ? "SIGQUIT\n" : "SIGTSTP\n";
  write_all(signals_fd, name, strlen(name));
}

static void on_select(int sig) {
  (void)sig;
  write_all(1, select_escape, select_escape_size);
}

static int open_in(const char* dir, const char* name) {
  char path[4096];
  snprintf(path, sizeof(path), "%s/%s", dir, name);
  return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  int bytes_fd = open_in(argv[1], "bytes");
  signals_fd = open_in(argv[1], "signals");
  if (bytes_fd < 0 || signals_fd < 0) return 1;
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGQUIT, &action, NULL);
  sigaction(SIGTSTP, &action, NULL);

  struct termios tty;
  if (tcgetattr(0, &tty) != 0) return 1;
  tty.c_iflag &= ~(tcflag_t)(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
  tty.c_lflag &= ~(tcflag_t)(ICANON | ECHO | IEXTEN);
  tty.c_lflag |= ISIG;
  tty.c_cc[VMIN] = 1;
  tty.c_cc[VTIME] = 0;
  if (tcsetattr(0, TCSANOW, &tty) != 0) return 1;
  write_all(1, "\033[?2004h", 8);
  if (argc > 2 && *argv[2]) {
    /* The terminal owns the primary selection with that (base64) text. */
    int size = snprintf(select_escape, sizeof(select_escape), "\033]52;p;%s\a", argv[2]);
    if (size < 0 || (size_t)size >= sizeof(select_escape)) return 2;
    select_escape_size = (size_t)size;
    action.sa_handler = on_select;
    sigaction(SIGUSR1, &action, NULL);
  }
  int pid_fd = open_in(argv[1], "pid");
  dprintf(pid_fd, "%d\n", (int)getpid());
  close(pid_fd);
  close(open_in(argv[1], "ready"));

  char buffer[65536];
  for (;;) {
    ssize_t n = read(0, buffer, sizeof(buffer));
    if (n > 0) {
      write_all(bytes_fd, buffer, (size_t)n);
    } else if (n == 0 || errno != EINTR) {
      return 0; /* the terminal has gone */
    }
  }
}
