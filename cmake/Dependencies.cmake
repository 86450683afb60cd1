# Third-party libraries as imported targets (deps::*). Their headers are SYSTEM includes.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(SQLite3 REQUIRED)

function(taviro_pkg target module)
  pkg_check_modules(_${target} REQUIRED ${module})
  add_library(deps::${target} INTERFACE IMPORTED GLOBAL)
  set(_dirs "")
  foreach(d ${_${target}_INCLUDE_DIRS})
    if(EXISTS ${d})
      list(APPEND _dirs ${d})
    endif()
  endforeach()
  target_include_directories(deps::${target} SYSTEM INTERFACE ${_dirs})
  target_link_directories(deps::${target} INTERFACE ${_${target}_LIBRARY_DIRS})
  target_link_libraries(deps::${target} INTERFACE ${_${target}_LIBRARIES})
  target_compile_options(deps::${target} INTERFACE ${_${target}_CFLAGS_OTHER})
endfunction()

add_library(deps::sqlite INTERFACE IMPORTED GLOBAL)
target_link_libraries(deps::sqlite INTERFACE SQLite::SQLite3)

taviro_pkg(plist libplist-2.0)
taviro_pkg(sdbus sdbus-c++)
taviro_pkg(icu "icu-uc;icu-i18n")
taviro_pkg(uchardet uchardet)
taviro_pkg(opencc opencc)
taviro_pkg(sunpinyin sunpinyin-2.0)
taviro_pkg(ibus ibus-1.0)

# Qt 6 widgets for the windows of both programs.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

# Qt 6 Widgets for the windows of both programs (views only; presenters link no Qt).
find_package(Qt6 REQUIRED COMPONENTS Widgets)

if(TAVIRO_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(TAVIRO_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
