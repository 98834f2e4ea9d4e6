// main: start the framework with the application's contexts, run it until a
// quit event, and return its status.
#include "app.hpp"

int main(int argc, char **argv)
{
  loop_t *loop = loop_startup(argc, argv, app_contexts);
  loop_run(loop);
  return loop_shutdown(loop);
}
