// The program's entry: the application object runs its guards and the main
// dialog; the program ends when the dialog ends.
#include "app/Tamri.h"

int main() {
  theApp.InitInstance();
  return 0;
}
