# The Python module spinmap (python/) is built for one interpreter, named
# here: Debian's python3 unless SPINMAP_PYTHON_EXECUTABLE says otherwise (the
# python3 first on the PATH may be another one). It is built when pybind11 and
# that interpreter's development files are found; never for Windows. Sets
# SPINMAP_PYTHON_MODULE when it is built.
set(SPINMAP_PYTHON_MODULE OFF)
if(WIN32)
  return()
endif()
option(SPINMAP_PYTHON "Build the Python module spinmap when pybind11 is found" ON)
set(SPINMAP_PYTHON_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The Python interpreter the module spinmap is built for")
if(NOT SPINMAP_PYTHON)
  return()
endif()

set(Python_EXECUTABLE ${SPINMAP_PYTHON_EXECUTABLE})
find_package(Python 3 COMPONENTS Interpreter Development.Module QUIET)
if(Python_FOUND)
  find_package(pybind11 CONFIG QUIET)
endif()
if(NOT Python_FOUND OR NOT pybind11_FOUND)
  message(STATUS "Not building the Python module: pybind11-dev and python3-dev are needed for ${SPINMAP_PYTHON_EXECUTABLE}")
  return()
endif()
message(STATUS "The Python module is built for ${Python_EXECUTABLE} (Python ${Python_VERSION})")
set(SPINMAP_PYTHON_MODULE ON)
# What its Debian package needs beyond shared libraries: the one Python
# version the module was built for, and NumPy.
math(EXPR spinmap_python_next "${Python_VERSION_MINOR} + 1")
set(SPINMAP_PYTHON_DEPENDS "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}~), python3 (<< ${Python_VERSION_MAJOR}.${spinmap_python_next}), python3-numpy")
