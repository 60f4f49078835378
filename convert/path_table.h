// A table of the ways of doing one job, plainest first: each entry has a `name` and a
// `supported` test of the processor. The transcoder and the guess keep one table each.
#ifndef KAVO_PATH_TABLE_H
#define KAVO_PATH_TABLE_H

#include <stddef.h>
#include <string.h>

// The last entry this processor can run.
template <class Path, size_t N>
const Path *BestPath(const Path (&paths)[N]) {
    const Path *best = &paths[0];
    for (const Path &path : paths)
        if (path.supported()) best = &path;
    return best;
}

// The names of the entries this processor can run, plainest first; returns how many.
template <class Path, size_t N>
int PathNames(const Path (&paths)[N], const char **names) {
    int count = 0;
    for (const Path &path : paths)
        if (path.supported()) names[count++] = path.name;
    return count;
}

// The entry of that name if this processor can run it, else null.
template <class Path, size_t N>
const Path *RunnablePath(const Path (&paths)[N], const char *name) {
    for (const Path &path : paths)
        if (strcmp(path.name, name) == 0 && path.supported()) return &path;
    return nullptr;
}

#endif
