// The few declarations of the Python 3 embedding interface that callers of
// PythonRuntime need to write native functions: an opaque object type and the
// method-table entry. Nothing links against the Python library; PythonRuntime
// binds every entry point by name at run time.
#pragma once

#include <cstddef>

extern "C" {

typedef std::ptrdiff_t Py_ssize_t;

// Opaque: the program never looks inside a Python object.
struct PyObject;

typedef PyObject *(*PyCFunction)(PyObject *self, PyObject *args);

// One entry of a native module's method table; a table ends with an entry
// whose name is null.
struct PyMethodDef
{
    const char *ml_name;
    PyCFunction ml_meth;
    int ml_flags;
    const char *ml_doc;
};

// Positional arguments arrive as one tuple.
enum { METH_VARARGS = 0x0001 };

} // extern "C"
