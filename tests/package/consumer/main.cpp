// Opens a simulated lamp board through the installed library, sets LEDs and
// reads them back; a refused LED shows the library's typed error.
#include <corvel/Board.h>

#include <cstdio>

int main() {
  try {
    corvel::OpenOptions options;
    options.sim = {1};
    corvel::Board board(options);
    board.SetMode(true);
    board.SetLeds(0);
    board.SetLeds(128, {3});
    std::printf("%s:", board.Info().chipBoard.c_str());
    for (unsigned value : board.ReadLeds()) std::printf(" %u", value);
    std::printf("\n");
    try {
      board.SetLeds(1, {9});
    } catch (const corvel::UsageError& e) {
      std::printf("refused: %s\n", e.what());
    }
    return 0;
  } catch (const corvel::Error& e) {
    std::fprintf(stderr, "consumer: %s\n", e.what());
    return 1;
  }
}
