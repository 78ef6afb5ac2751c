// launcher.exe: the client root's console stub. It starts the launcher program of the root's
// "launcher" folder, below the working folder, and ends at once with 0 whatever happened.

#include <cstdlib>

int main() {
  // The command interpreter's "start" begins the program as a process of its own and
  // returns without waiting for it.
  std::system("start launcher\\launcher.exe");
  return 0;
}
