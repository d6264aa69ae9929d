#include "ui/bench_app.h"

int main(int argc, char** argv) {
  ferrotick::ui::CBenchApp app(argc, argv);
  return app.Run();
}
