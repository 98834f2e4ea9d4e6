// Start-up, the context table and the main loop, against real SDL with the
// dummy audio and offscreen video drivers. Operations record their calls in
// a trace; real SDL events are pushed to drive dispatch and quitting.
#include "loop/loop.hpp"

#include "test-loop-support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> trace;
int objects[3];
// What a test does when an operation runs (context, operation, event code).
void (*on_op)(loop_t *loop, int context, const std::string &op, int code);
char arg0[] = "orb", arg1[] = "--window";
char *test_argv[] = {arg0, arg1, nullptr};

void note(loop_t *loop, int context, std::string op, void *object, int code = -1)
{
  // Every operation gets its own context's object and runs while that
  // context is current (leave before the switch, enter after it).
  EXPECT_EQ(object, &objects[context]) << op;
  EXPECT_EQ(loop->current, context) << op;
  if (trace.size() > 200) {
    ADD_FAILURE() << "the loop does not stop";
    abort();
  }
  const std::string entry = std::to_string(context) + "." + op;
  trace.push_back(code >= 0 ? entry + " " + std::to_string(code) : entry);
  if (on_op)
    on_op(loop, context, op, code);
}

template <int K> void *init(loop_t *loop, int argc, char **argv)
{
  EXPECT_EQ(argc, 2);
  EXPECT_EQ(argv, test_argv);
  EXPECT_EQ(loop->ops, nullptr) << "the table is attached only after every init";
  EXPECT_EQ(loop->n_ops, K + 1);
  for (int j = 0; j < K; j++)
    EXPECT_EQ(loop_context(loop, j), &objects[j]) << "context " << j;
  EXPECT_EQ(loop_context(loop, K), nullptr);
  trace.push_back(std::to_string(K) + ".init");
  return &objects[K];
}
template <int K> void enter(loop_t *loop, void *object) { note(loop, K, "enter", object); }
template <int K> void leave(loop_t *loop, void *object) { note(loop, K, "leave", object); }
template <int K> void update(loop_t *loop, void *object) { note(loop, K, "update", object); }
template <int K> void render(loop_t *loop, void *object) { note(loop, K, "render", object); }
template <int K> void dispatch(loop_t *loop, void *object, const SDL_Event *event)
{
  // SDL posts events of its own (devices added and the like); only the
  // test's events and the two quit kinds are of interest.
  if (event->type == SDL_USEREVENT)
    note(loop, K, "dispatch", object, event->user.code);
  else if (event->type == SDL_QUIT || event->type == SDL_APP_TERMINATING)
    note(loop, K, "dispatch quit", object);
}

template <int K> constexpr loop_ops_t ops = {init<K>, nullptr, enter<K>, leave<K>, update<K>, render<K>, dispatch<K>};
const loop_ops_t *const table[] = {&ops<0>, &ops<1>, &ops<2>, nullptr};

void push_user(int code)
{
  SDL_Event event = {};
  event.type = SDL_USEREVENT;
  event.user.code = code;
  ASSERT_EQ(SDL_PushEvent(&event), 1);
}

void push_type(uint32_t type)
{
  SDL_Event event = {};
  event.type = type;
  ASSERT_EQ(SDL_PushEvent(&event), 1);
}

class loop_context_test : public testing::Test {
protected:
  static void SetUpTestSuite() { support_sdl_drivers(); }
  void SetUp() override
  {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    on_op = nullptr;
    trace.clear();
    loop = loop_startup(2, test_argv, table);
    startup_trace = trace;
    trace.clear();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
  loop_t *loop = nullptr;
  std::vector<std::string> startup_trace;
};

using strings = std::vector<std::string>;

}  // namespace

TEST_F(loop_context_test, startup_inits_in_table_order_and_enters_nothing)
{
  EXPECT_EQ(startup_trace, (strings{"0.init", "1.init", "2.init"}));
  EXPECT_EQ(loop->ops, table);
  EXPECT_EQ(loop->n_ops, 3);
  EXPECT_EQ(loop->current, 0);
  EXPECT_FALSE(loop->context_changed);
  for (int i = 0; i < 3; i++)
    EXPECT_EQ(loop->contexts[i], &objects[i]);
  EXPECT_EQ(loop_shutdown(loop), 0);
}

TEST_F(loop_context_test, startup_brings_up_sdl_and_the_mixer)
{
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER),
            uint32_t(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER));
  int frequency = 0, channels = 0;
  uint16_t format = 0;
  ASSERT_NE(Mix_QuerySpec(&frequency, &format, &channels), 0);
  EXPECT_EQ(frequency, 44100);
  EXPECT_EQ(format, AUDIO_S16SYS);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(Mix_AllocateChannels(-1), 32);
}

TEST_F(loop_context_test, context_without_init_has_a_null_object)
{
  static const loop_ops_t bare = {};
  static const loop_ops_t *const partial[] = {&ops<0>, &bare, nullptr};
  loop_t *other = loop_startup(2, test_argv, partial);
  EXPECT_EQ(trace, (strings{"0.init"}));
  trace.clear();
  EXPECT_EQ(other->n_ops, 2);
  EXPECT_EQ(loop_context(other, 0), &objects[0]);
  EXPECT_EQ(loop_context(other, 1), nullptr);
  // Null operations are skipped: entering it and running a frame is safe.
  loop_context_enter(other, 1);
  push_type(SDL_QUIT);
  loop_run(other);
  EXPECT_EQ(trace, (strings{"0.leave"}));
}

TEST_F(loop_context_test, enter_leaves_then_enters_and_flags_the_change)
{
  loop_context_enter(loop, 2);
  EXPECT_EQ(trace, (strings{"0.leave", "2.enter"}));
  EXPECT_EQ(loop->current, 2);
  EXPECT_TRUE(loop->context_changed);
  EXPECT_EQ(loop_context(loop, -1), &objects[2]);
  EXPECT_EQ(loop_context(loop, 0), &objects[0]);
}

TEST_F(loop_context_test, entering_the_current_context_does_nothing)
{
  loop_context_enter(loop, 0);
  EXPECT_TRUE(trace.empty());
  EXPECT_FALSE(loop->context_changed);

  loop_context_enter(loop, 1);
  loop->context_changed = 0;
  trace.clear();
  loop_context_enter(loop, 1);
  EXPECT_TRUE(trace.empty());
  EXPECT_FALSE(loop->context_changed);
  EXPECT_EQ(loop->current, 1);
}

TEST_F(loop_context_test, frames_repeat_while_no_event_arrives)
{
  on_op = [](loop_t *, int, const std::string &op, int) {
    static int updates;
    if (op == "update" && ++updates == 3)
      loop_quit();
  };
  loop_run(loop);
  EXPECT_EQ(trace, (strings{"0.update", "0.render", "0.update", "0.render", "0.update", "0.render"}));
}

TEST_F(loop_context_test, update_that_switches_runs_the_new_update_before_render)
{
  on_op = [](loop_t *loop, int context, const std::string &op, int) {
    if (op == "update" && context < 2)
      loop_context_enter(loop, context + 1);
    if (op == "render")
      loop_quit();
  };
  loop_run(loop);
  EXPECT_EQ(trace, (strings{"0.update", "0.leave", "1.enter", "1.update", "1.leave", "2.enter", "2.update",
                            "2.render"}));
  EXPECT_EQ(loop->current, 2);
}

TEST_F(loop_context_test, render_that_switches_updates_again_before_polling)
{
  push_user(7);
  push_type(SDL_QUIT);
  on_op = [](loop_t *loop, int context, const std::string &op, int) {
    if (op == "render" && context == 0)
      loop_context_enter(loop, 1);
  };
  loop_run(loop);
  EXPECT_EQ(trace, (strings{"0.update", "0.render", "0.leave", "1.enter", "1.update", "1.render", "1.dispatch 7"}));
}

TEST_F(loop_context_test, dispatch_that_switches_leaves_queued_events_for_the_next_frame)
{
  push_user(1);
  push_user(2);
  push_user(3);
  push_type(SDL_QUIT);
  on_op = [](loop_t *loop, int context, const std::string &op, int code) {
    if (op == "dispatch" && context == 0 && code == 1)
      loop_context_enter(loop, 1);
  };
  loop_run(loop);
  EXPECT_EQ(trace, (strings{"0.update", "0.render", "0.dispatch 1", "0.leave", "1.enter", "1.update", "1.render",
                            "1.dispatch 2", "1.dispatch 3"}));
}

TEST_F(loop_context_test, dispatch_handles_every_queued_event_in_one_frame)
{
  push_user(1);
  push_user(2);
  push_type(SDL_QUIT);
  loop_run(loop);
  EXPECT_EQ(trace, (strings{"0.update", "0.render", "0.dispatch 1", "0.dispatch 2"}));
}

class loop_quit_test : public loop_context_test, public testing::WithParamInterface<uint32_t> {};

TEST_P(loop_quit_test, quit_event_returns_undispatched_without_leave)
{
  loop_context_enter(loop, 1);
  trace.clear();
  push_user(1);
  push_type(GetParam());
  push_user(2);
  loop_run(loop);
  EXPECT_EQ(trace, (strings{"1.update", "1.render", "1.dispatch 1"}));
  EXPECT_EQ(loop->current, 1);
  // Returned at once: the event after the quit is still queued.
  SDL_Event event;
  ASSERT_EQ(SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_USEREVENT, SDL_USEREVENT), 1);
  EXPECT_EQ(event.user.code, 2);
  EXPECT_EQ(loop_shutdown(loop), 0);
}

INSTANTIATE_TEST_SUITE_P(loop_context_test, loop_quit_test,
                         testing::Values(uint32_t(SDL_QUIT), uint32_t(SDL_APP_TERMINATING)));

TEST(loop_context_death, broken_preconditions_abort)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static const loop_ops_t *const empty[] = {nullptr};
  EXPECT_DEATH(loop_startup(0, nullptr, nullptr), "Assertion `ops' failed");
  EXPECT_DEATH(loop_startup(0, nullptr, empty), "Assertion `n_ops > 0' failed");

  loop_t *loop = static_cast<loop_t *>(calloc(1, sizeof(loop_t) + 3 * sizeof(void *)));
  loop->ops = table;
  loop->n_ops = 3;
  EXPECT_DEATH(loop_context_enter(loop, 3), "Assertion `context >= 0 && context < loop->n_ops' failed");
  EXPECT_DEATH(loop_context_enter(loop, -1), "Assertion `context >= 0 && context < loop->n_ops' failed");
  EXPECT_DEATH(loop_context(loop, 3), "Assertion `context < loop->n_ops' failed");
  EXPECT_DEATH(loop_context_enter(nullptr, 0), "Assertion `loop' failed");
  EXPECT_DEATH(loop_context(nullptr, -1), "Assertion `loop' failed");
  free(loop);
}

// Start-up output is checked in child processes, each in its own working
// directory, so that controllers and the mapping database stay private.
namespace {

void enter_temp_dir(void)
{
  if (chdir(support_temp_dir().c_str()) != 0)
    abort();
}

void write_file(const char *name, const std::string &text)
{
  FILE *file = fopen(name, "wb");
  fwrite(text.data(), 1, text.size(), file);
  fclose(file);
}

// A joystick SDL knows no mapping for; its GUID text is returned.
std::string attach_plain_joystick(void)
{
  if (SDL_Init(SDL_INIT_JOYSTICK) != 0 || SDL_NumJoysticks() != 0)
    exit(77);
  // With a vendor and product of its own, the device is matched against
  // the database like a real one.
  SDL_VirtualJoystickDesc desc = {};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_UNKNOWN;
  desc.naxes = 2;
  desc.nbuttons = 2;
  desc.vendor_id = 0x1234;
  desc.product_id = 0x5678;
  desc.name = "Loop Test Pad";
  const int index = SDL_JoystickAttachVirtualEx(&desc);
  if (index < 0)
    exit(78);
  char guid[64];
  SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(index), guid, sizeof(guid));
  return guid;
}

bool opened(int index)
{
  return SDL_GameControllerFromInstanceID(SDL_JoystickGetDeviceInstanceID(index)) != nullptr;
}

}  // namespace

TEST(loop_startup_output, missing_mapping_database_prints_nothing)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        support_sdl_drivers();
        enter_temp_dir();
        loop_startup(2, test_argv, table);
        exit(0);
      },
      testing::ExitedWithCode(0), "^$");
}

TEST(loop_startup_output, garbage_mapping_database_is_ignored)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        support_sdl_drivers();
        enter_temp_dir();
        write_file("gamecontrollerdb.txt", std::string("\x01\xff\x00garbage,,,\nnot a mapping at all\n,,:\n", 38));
        loop_t *loop = loop_startup(2, test_argv, table);
        exit(loop_context(loop, 2) == &objects[2] ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^$");
}

TEST(loop_startup_output, unrecognized_joystick_is_named_and_not_opened)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        support_sdl_drivers();
        enter_temp_dir();
        const std::string guid = attach_plain_joystick();
        const std::string text = support_capture_stderr([](void *) { loop_startup(2, test_argv, table); }, nullptr);
        const std::string expected =
            "Ignoring unrecognized joystick \"" + guid + "\",\nadd a \"gamecontrollerdb.txt\" to use it.\n";
        if (text != expected || opened(0)) {
          fprintf(stderr, "%sopened=%d", text.c_str(), opened(0));
          exit(1);
        }
        exit(0);
      },
      testing::ExitedWithCode(0), "^$");
}

TEST(loop_startup_output, joystick_mapped_by_the_database_is_opened)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        support_sdl_drivers();
        enter_temp_dir();
        const std::string guid = attach_plain_joystick();
        write_file("gamecontrollerdb.txt", guid + ",Loop Test Pad,a:b0,b:b1,leftx:a0,lefty:a1,platform:Linux,\n");
        loop_startup(2, test_argv, table);
        exit(opened(0) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^$");
}

TEST(loop_startup_output, sdl_that_cannot_start_is_fatal)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        support_sdl_drivers();
        setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
        loop_startup(2, test_argv, table);
      },
      testing::ExitedWithCode(1), "^Fatal error: Unable to initialize SDL\n$");
}

TEST(loop_startup_output, audio_device_that_cannot_open_is_fatal)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        support_sdl_drivers();
        // The disk driver starts, but its device fails to open its file.
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", "/nonexistent-loop-dir/audio.raw", 1);
        loop_startup(2, test_argv, table);
      },
      testing::ExitedWithCode(1), "^Fatal error: Unable to open audio\n$");
}
