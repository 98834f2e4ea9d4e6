#include "loop/loop.hpp"
