# Decides which optional parts are built: the Python module (build_python_module) and the
# C++ tests (build_cpp_tests). ON requires a part's dependencies and AUTO builds it when
# they are found, so that a plain `cmake -S . -B build` needs only a compiler, CMake and
# a Python. scikit-build counts as asking for the module.
set(build_python_module ${VELTRANE_PYTHON})
if(VELTRANE_PYTHON STREQUAL "AUTO")
  set(build_python_module ${SKBUILD})
endif()

if(build_python_module)
  find_package(Python 3.8 REQUIRED COMPONENTS Interpreter Development.Module)
elseif(VELTRANE_PYTHON STREQUAL "AUTO")
  find_package(Python 3.8 REQUIRED COMPONENTS Interpreter OPTIONAL_COMPONENTS Development.Module)
else()
  find_package(Python 3.8 REQUIRED COMPONENTS Interpreter)
endif()

# pybind11 installed by pip into that interpreter tells where its package file is.
if(NOT pybind11_DIR AND (build_python_module OR Python_Development.Module_FOUND))
  execute_process(COMMAND "${Python_EXECUTABLE}" -m pybind11 --cmakedir
                  OUTPUT_VARIABLE pybind11_cmakedir OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE pybind11_result ERROR_QUIET)
  if(pybind11_result EQUAL 0)
    set(pybind11_DIR "${pybind11_cmakedir}" CACHE PATH "Where pybind11's package file is")
  endif()
endif()
if(build_python_module)
  find_package(pybind11 3.0...<3.1 CONFIG REQUIRED)
elseif(VELTRANE_PYTHON STREQUAL "AUTO" AND Python_Development.Module_FOUND)
  find_package(pybind11 3.0...<3.1 CONFIG QUIET)
  set(build_python_module ${pybind11_FOUND})
endif()

set(build_cpp_tests ${VELTRANE_TESTS})
if(VELTRANE_TESTS STREQUAL "AUTO")
  set(build_cpp_tests OFF)
  if(CMAKE_SOURCE_DIR STREQUAL PROJECT_SOURCE_DIR)
    find_package(GTest QUIET)
    set(build_cpp_tests ${GTest_FOUND})
  endif()
endif()
foreach(part build_python_module build_cpp_tests)
  if(${part})
    set(${part} ON)
  else()
    set(${part} OFF)
  endif()
endforeach()
message(STATUS "veltrane_rec: Python module ${build_python_module}, C++ tests ${build_cpp_tests}")
