# VUXO_PYTHON: the interpreter the package is installed for and tested with.
# Debian's /usr/bin/python3 comes first because Debian's python3-pytest is
# installed for it; another python3 on the PATH is taken only when it has pytest
# too (or when there is no other).
# VUXO_PYTHON_SITE: its site-packages directory, relative to the install prefix.
if(DEFINED VUXO_PYTHON_SITE)
  return()
endif()
if(NOT VUXO_PYTHON)
  find_program(_vuxo_py_path python3)
  foreach(candidate /usr/bin/python3 ${_vuxo_py_path})
    if(EXISTS ${candidate})
      execute_process(COMMAND ${candidate} -c "import pytest" RESULT_VARIABLE _rc
        OUTPUT_QUIET ERROR_QUIET)
      if(_rc EQUAL 0)
        set(VUXO_PYTHON ${candidate})
        break()
      endif()
      if(NOT _vuxo_py_fallback)
        set(_vuxo_py_fallback ${candidate})
      endif()
    endif()
  endforeach()
  if(NOT VUXO_PYTHON)
    set(VUXO_PYTHON ${_vuxo_py_fallback})
  endif()
  set(VUXO_PYTHON ${VUXO_PYTHON} CACHE FILEPATH "Python interpreter for the vuxoint package")
endif()
if(VUXO_PYTHON)
  # The interpreter's own site directory when it lies under the prefix (Debian:
  # /usr/local/lib/python3.X/dist-packages), else the usual layout under it.
  execute_process(COMMAND ${VUXO_PYTHON} -c
    "import sys, sysconfig, os; p = sysconfig.get_path('purelib'); r = os.path.relpath(p, sys.argv[1]); print(r if not r.startswith('..') else 'lib/python%d.%d/site-packages' % sys.version_info[:2])"
    ${CMAKE_INSTALL_PREFIX}
    OUTPUT_VARIABLE _site OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(VUXO_PYTHON_SITE ${_site} CACHE STRING "Python package directory, relative to the prefix")
endif()
