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

TEST_F(loop_context_test, startup_inits_in_table_order_enters_nothing_and_brings_up_sdl)
{
  EXPECT_EQ(startup_trace, (strings{"0.init", "1.init", "2.init"}));
  EXPECT_EQ(loop->ops, table);
  EXPECT_EQ(loop->current, 0);
  EXPECT_FALSE(loop->context_changed);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER),
            uint32_t(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER));
  int frequency = 0, channels = 0;
  uint16_t format = 0;
  ASSERT_NE(Mix_QuerySpec(&frequency, &format, &channels), 0);
  EXPECT_EQ(frequency, 44100);
  EXPECT_EQ(format, AUDIO_S16SYS);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(Mix_AllocateChannels(-1), 32);
  EXPECT_EQ(loop_shutdown(loop), 0);
}

TEST_F(loop_context_test, context_without_init_has_a_null_object)
{
  static const loop_ops_t bare = {};
  static const loop_ops_t *const partial[] = {&ops<0>, &bare, nullptr};
  loop_t *other = loop_startup(2, test_argv, partial);
  EXPECT_EQ(trace, (strings{"0.init"}));
  trace.clear();
  EXPECT_EQ(loop_context(other, 1), nullptr);
  // Null operations are skipped: entering it and running a frame is safe.
  loop_context_enter(other, 1);
  push_type(SDL_QUIT);
  loop_run(other);
  EXPECT_EQ(trace, (strings{"0.leave"}));
}

TEST_F(loop_context_test, enter_leaves_then_enters_and_flags_the_change_unless_already_current)
{
  loop_context_enter(loop, 0);
  EXPECT_TRUE(trace.empty());
  EXPECT_FALSE(loop->context_changed);
  loop_context_enter(loop, 2);
  EXPECT_EQ(trace, (strings{"0.leave", "2.enter"}));
  EXPECT_TRUE(loop->context_changed);
  EXPECT_EQ(loop_context(loop, -1), &objects[2]);
  EXPECT_EQ(loop_context(loop, 0), &objects[0]);
  loop->context_changed = 0;
  loop_context_enter(loop, 2);
  EXPECT_EQ(trace.size(), 2u);
  EXPECT_FALSE(loop->context_changed);
}

namespace {

// When the nth call of op in context (with that event code, if any) runs, it
// enters target, or quits when target is -1.
struct action_t {
  const char *op;
  int context, code, nth, target;
};

// Events to queue (user codes; 0 is SDL_QUIT), the actions, and the trace
// the loop must leave.
struct frame_case_t {
  const char *what;
  std::vector<int> events;
  std::vector<action_t> actions;
  strings expected;
};

const frame_case_t *current_case;
std::vector<int> seen;  // calls so far, per action

const frame_case_t frame_cases[] = {
    {"frames repeat while no event arrives", {}, {{"update", 0, -1, 3, -1}},
     {"0.update", "0.render", "0.update", "0.render", "0.update", "0.render"}},
    {"every queued event is dispatched in one frame", {1, 2, 0}, {},
     {"0.update", "0.render", "0.dispatch 1", "0.dispatch 2"}},
    {"an update that switches runs the new update before render", {},
     {{"update", 0, -1, 1, 1}, {"update", 1, -1, 1, 2}, {"render", 2, -1, 1, -1}},
     {"0.update", "0.leave", "1.enter", "1.update", "1.leave", "2.enter", "2.update", "2.render"}},
    {"a render that switches updates again before polling", {7, 0}, {{"render", 0, -1, 1, 1}},
     {"0.update", "0.render", "0.leave", "1.enter", "1.update", "1.render", "1.dispatch 7"}},
    {"a dispatch that switches leaves queued events for the next frame", {1, 2, 3, 0},
     {{"dispatch", 0, 1, 1, 1}},
     {"0.update", "0.render", "0.dispatch 1", "0.leave", "1.enter", "1.update", "1.render",
      "1.dispatch 2", "1.dispatch 3"}},
};

void act(loop_t *loop, int context, const std::string &op, int code)
{
  for (size_t i = 0; i < current_case->actions.size(); i++) {
    const action_t &a = current_case->actions[i];
    if (op == a.op && context == a.context && (a.code < 0 || code == a.code) && ++seen[i] == a.nth)
      a.target < 0 ? loop_quit() : loop_context_enter(loop, a.target);
  }
}

}  // namespace

TEST_F(loop_context_test, frames_run_update_render_dispatch_and_follow_switches)
{
  on_op = act;
  for (const frame_case_t &c : frame_cases) {
    SCOPED_TRACE(c.what);
    current_case = &c;
    seen.assign(c.actions.size(), 0);
    for (int code : c.events)
      code ? push_user(code) : push_type(SDL_QUIT);
    loop_run(loop);
    EXPECT_EQ(trace, c.expected);
    loop_context_enter(loop, 0);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    trace.clear();
  }
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
  desc.naxes = desc.nbuttons = 2;
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

// Runs body in a child, in a fresh working directory, expecting the exit
// status and the standard error text.
void expect_child(void (*body)(void), int status, const char *stderr_text)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        support_sdl_drivers();
        if (chdir(support_temp_dir().c_str()) != 0)
          abort();
        body();
        exit(0);
      },
      testing::ExitedWithCode(status), stderr_text);
}

}  // namespace

TEST(loop_startup_output, a_missing_or_garbage_mapping_database_prints_nothing)
{
  expect_child([] { loop_startup(2, test_argv, table); }, 0, "^$");
  expect_child(
      [] {
        write_file("gamecontrollerdb.txt", std::string("\x01\xff\x00garbage,,,\nnot a mapping at all\n,,:\n", 38));
        loop_t *loop = loop_startup(2, test_argv, table);
        exit(loop_context(loop, 2) == &objects[2] ? 0 : 1);
      },
      0, "^$");
}

TEST(loop_startup_output, joysticks_are_opened_only_when_the_database_maps_them)
{
  expect_child(
      [] {
        const std::string guid = attach_plain_joystick();
        const std::string text = support_capture_stderr([](void *) { loop_startup(2, test_argv, table); }, nullptr);
        const std::string expected =
            "Ignoring unrecognized joystick \"" + guid + "\",\nadd a \"gamecontrollerdb.txt\" to use it.\n";
        if (text != expected || opened(0)) {
          fprintf(stderr, "%sopened=%d", text.c_str(), opened(0));
          exit(1);
        }
      },
      0, "^$");
  expect_child(
      [] {
        const std::string guid = attach_plain_joystick();
        write_file("gamecontrollerdb.txt", guid + ",Loop Test Pad,a:b0,b:b1,leftx:a0,lefty:a1,platform:Linux,\n");
        loop_startup(2, test_argv, table);
        exit(opened(0) ? 0 : 1);
      },
      0, "^$");
}

TEST(loop_startup_output, sdl_or_audio_that_cannot_start_is_fatal)
{
  expect_child(
      [] {
        setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
        loop_startup(2, test_argv, table);
      },
      1, "^Fatal error: Unable to initialize SDL\n$");
  // The disk driver starts, but its device fails to open its file.
  expect_child(
      [] {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", "/nonexistent-loop-dir/audio.raw", 1);
        loop_startup(2, test_argv, table);
      },
      1, "^Fatal error: Unable to open audio\n$");
}
