# Makes the Windows zip: tavimor.exe, the README as README.txt with CR LF
# line ends, as Notepad has always wanted them, and the Blender add-on's
# folder tavimor_rocks. Run with cmake -P, given
# SOURCE (the source tree), EXE (the program) and ZIP (the archive to make).
file(READ "${SOURCE}/README.md" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
get_filename_component(folder "${ZIP}" DIRECTORY)
set(staging "${folder}/zip")
file(REMOVE_RECURSE "${staging}")
file(MAKE_DIRECTORY "${staging}")
file(WRITE "${staging}/README.txt" "${text}")
file(COPY "${EXE}" DESTINATION "${staging}")
file(COPY "${SOURCE}/tools/blender/tavimor_rocks" DESTINATION "${staging}" PATTERN __pycache__ EXCLUDE)
file(REMOVE "${ZIP}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${ZIP}" --format=zip tavimor.exe README.txt tavimor_rocks
                WORKING_DIRECTORY "${staging}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot make ${ZIP}")
endif()
