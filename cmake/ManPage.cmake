# Writes a manual page from a program's own --help with help2man. For a program with
# subcommands, the help of every subcommand (and of theirs) becomes a COMMANDS section, so new
# commands appear in the page without touching it.
#   cmake -DHELP2MAN=help2man -DPROGRAM=path -DNAME=orvik-cli "-DSUMMARY=what it is"
#         -DINCLUDE=extra.h2m -DOUT=page.1 -P ManPage.cmake

# The subcommand names listed in a help text ("Subcommands:" followed by indented lines).
function(subcommands_of help out)
  # Only names are read: characters that mean something in a CMake list are blanked first.
  string(REGEX REPLACE "[][;]" " " help "${help}")
  string(REPLACE "\n" ";" lines "${help}")
  set(names)
  set(in_list FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[A-Za-z ]*[Ss][Uu][Bb][Cc][Oo][Mm][Mm][Aa][Nn][Dd][Ss]:[ ]*$")
      set(in_list TRUE)
    elseif(in_list AND line MATCHES "^  +([a-z][a-z0-9-]*)( |$)")
      list(APPEND names ${CMAKE_MATCH_1})
    elseif(in_list AND NOT line MATCHES "^ ")
      set(in_list FALSE)
    endif()
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# Escapes text for roff inside .nf/.fi.
function(roff_escape text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(commands "")
function(describe words)
  execute_process(COMMAND ${PROGRAM} ${words} --help OUTPUT_VARIABLE help ERROR_QUIET
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${words} --help failed (${rc})")
  endif()
  if(words)
    string(REPLACE ";" " " title "${words}")
    string(STRIP "${title}" title)
    roff_escape("${help}" body)
    string(APPEND commands ".SS \"${NAME} ${title}\"\n.nf\n${body}.fi\n")
  endif()
  subcommands_of("${help}" subs)
  foreach(sub IN LISTS subs)
    describe("${words};${sub}")
  endforeach()
  set(commands "${commands}" PARENT_SCOPE)
endfunction()
describe("")

set(include_file ${OUT}.h2m)
set(text "")
if(EXISTS "${INCLUDE}")
  file(READ "${INCLUDE}" text)
endif()
if(commands)
  string(APPEND text "\n[COMMANDS]\n${commands}")
endif()
file(WRITE ${include_file} "${text}")

# UTF-8 help texts stay readable in the page.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${HELP2MAN} --no-info --locale=C.UTF-8 --section=1 "--name=${SUMMARY}" --include=${include_file}
          --output=${OUT}.tmp ${PROGRAM}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}")
endif()
# help2man names the page after the file it ran; the installed name is NAME.
file(READ ${OUT}.tmp page)
get_filename_component(exe_name ${PROGRAM} NAME)
if(NOT exe_name STREQUAL NAME)
  string(REPLACE "${exe_name}" "${NAME}" page "${page}")
endif()
# Texts are UTF-8, but man shows pages in the reader's locale too: the two non-ASCII signs of the
# help texts are written as roff's own, which every locale can show.
string(REPLACE "…" "..." page "${page}")
string(REPLACE "—" "\\(em" page "${page}")
file(WRITE ${OUT} "${page}")
file(REMOVE ${OUT}.tmp ${include_file})
