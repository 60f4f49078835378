#include "program_state.h"

ProgramStateRecord ProgramState;
