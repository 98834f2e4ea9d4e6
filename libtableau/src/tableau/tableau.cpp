#include "tableau/tableau.hpp"
