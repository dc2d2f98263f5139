# Writes the build's identity (version, git commit and whether the tree was dirty) into the
# header OUTPUT, rewriting it only when it changed. Run at every build, so a commit made since
# configure is recorded. Inputs: SOURCE_DIR, OUTPUT, VERSION.
find_package(Git QUIET)
set(commit "")
set(dirty "")
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse HEAD
                  WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE commit
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE commit_status)
  if(NOT commit_status EQUAL 0)
    set(commit "")
  else()
    execute_process(COMMAND "${GIT_EXECUTABLE}" status --porcelain --untracked-files=no
                    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE changes
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(changes STREQUAL "")
      set(dirty "false")
    else()
      set(dirty "true")
    endif()
  endif()
endif()
if(commit STREQUAL "")
  set(commit_value "nullptr")
  set(dirty_value "std::nullopt")
else()
  set(commit_value "\"${commit}\"")
  set(dirty_value "${dirty}")
endif()
set(text "// Generated at build time by cmake/BuildInfo.cmake; not in the source tree.
#pragma once
#include <optional>
inline constexpr const char* kLubenchVersion = \"${VERSION}\";
// Null when the source tree is not a git checkout.
inline constexpr const char* kGitCommit = ${commit_value};
inline const std::optional<bool> kGitDirty = ${dirty_value};
")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
