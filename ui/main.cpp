#include "core/standard_descriptors.h"
#include "ui/bench_app.h"

int main(int argc, char** argv) {
  ferrotick::ReserveStandardDescriptors();
  ferrotick::ui::CBenchApp app(argc, argv);
  return app.Run();
}
