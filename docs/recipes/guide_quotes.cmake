# SPDX-License-Identifier: Apache-2.0
# The guide quotes every recipe verbatim, each after a marker line:
#
#   <!-- recipe: name.cpp -->
#   ```cpp
#   ...the file, exactly...
#   ```
#
# (Python recipes, name.py, in a ```python block.)
#
# Check (default): fails when a quoted block differs from its file, or when a
# recipe file is quoted nowhere.
#   cmake -DGUIDE=docs/guide.md -DRECIPES=docs/recipes -P docs/recipes/guide_quotes.cmake
# Update: add -DUPDATE=ON to rewrite every quoted block from its file.
cmake_minimum_required(VERSION 3.20)
set(marker "<!-- recipe: ")
set(open " -->\n```")
string(LENGTH "${marker}" marker_len)

file(READ ${GUIDE} rest)
set(out "")
set(quoted "")
set(problems "")
while(TRUE)
  string(FIND "${rest}" "${marker}" at)
  if(at EQUAL -1)
    break()
  endif()
  # Everything before the marker stays as it is.
  string(SUBSTRING "${rest}" 0 ${at} before)
  string(APPEND out "${before}")
  string(SUBSTRING "${rest}" ${at} -1 rest)
  # The marker line and the fence that opens the block, in the recipe's language.
  string(FIND "${rest}" "${open}" close)
  if(close EQUAL -1)
    message(FATAL_ERROR "a recipe marker without a code block after it in ${GUIDE}")
  endif()
  math(EXPR name_len "${close} - ${marker_len}")
  string(SUBSTRING "${rest}" ${marker_len} ${name_len} name)
  if(name MATCHES "\\.py$")
    set(opening " -->\n```python\n")
  else()
    set(opening " -->\n```cpp\n")
  endif()
  string(LENGTH "${opening}" opening_len)
  string(SUBSTRING "${rest}" ${close} ${opening_len} found)
  if(NOT found STREQUAL opening)
    message(FATAL_ERROR "the block of ${name} is not in the recipe's language in ${GUIDE}")
  endif()
  math(EXPR header_len "${close} + ${opening_len}")
  string(SUBSTRING "${rest}" 0 ${header_len} header)
  string(SUBSTRING "${rest}" ${header_len} -1 rest)
  # The block runs to the closing fence; it keeps its last newline. An empty
  # block (a fence right after the opening one) is left for -DUPDATE=ON.
  string(FIND "${rest}" "```\n" fence)
  if(fence EQUAL 0)
    set(block_len 0)
  else()
    string(FIND "${rest}" "\n```\n" end)
    if(end EQUAL -1)
      message(FATAL_ERROR "the block of ${name} is not closed in ${GUIDE}")
    endif()
    math(EXPR block_len "${end} + 1")
  endif()
  string(SUBSTRING "${rest}" 0 ${block_len} block)
  string(SUBSTRING "${rest}" ${block_len} -1 rest)

  if(NOT EXISTS ${RECIPES}/${name})
    string(APPEND problems "  ${name}: quoted, but there is no such recipe\n")
    string(APPEND out "${header}${block}")
    continue()
  endif()
  file(READ ${RECIPES}/${name} code)
  if(NOT block STREQUAL code)
    string(APPEND problems "  ${name}: the quoted block differs from the file\n")
  endif()
  list(APPEND quoted ${name})
  string(APPEND out "${header}${code}")
endwhile()
string(APPEND out "${rest}")

file(GLOB recipes RELATIVE ${RECIPES} ${RECIPES}/*.cpp ${RECIPES}/*.py)
foreach(name IN LISTS recipes)
  if(NOT name IN_LIST quoted)
    string(APPEND problems "  ${name}: not quoted in the guide\n")
  endif()
endforeach()

if(UPDATE)
  file(WRITE ${GUIDE} "${out}")
  message(STATUS "quoted blocks rewritten from ${RECIPES}")
elseif(problems)
  message(FATAL_ERROR "guide and recipes disagree:\n${problems}"
          "rewrite the blocks from the files with -DUPDATE=ON")
endif()
