# Runs a Python script in a background Blender whose user folders (preferences, add-ons, scripts)
# all lie in BLENDER_HOME, emptied first, so that installing the add-on never touches the
# machine's own Blender setup. The Blender is the one named by the environment variable BLENDER,
# else `blender` on the PATH. Without one it prints "Blender test skipped" and succeeds, or fails
# with REQUIRED=ON.
#
#   cmake -DSCRIPT=<script.py> -DBLENDER_HOME=<folder> [-DREQUIRED=ON] -P run_blender.cmake --
#         <script arguments>...
if(DEFINED ENV{BLENDER})
    set(BLENDER $ENV{BLENDER})
else()
    find_program(BLENDER blender NO_DEFAULT_PATH PATHS ENV PATH)
endif()
if(NOT BLENDER)
    if(REQUIRED)
        message(FATAL_ERROR "blender was not found on the PATH")
    endif()
    message("Blender test skipped: blender was not found on the PATH")
    return()
endif()

set(script_arguments)
set(after_separator FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(index RANGE ${last})
    if(after_separator)
        list(APPEND script_arguments "${CMAKE_ARGV${index}}")
    elseif(CMAKE_ARGV${index} STREQUAL "--")
        set(after_separator TRUE)
    endif()
endforeach()

file(REMOVE_RECURSE ${BLENDER_HOME})
file(MAKE_DIRECTORY ${BLENDER_HOME})
# BLENDER_USER_RESOURCES holds every user folder; the others would override it when inherited.
set(ENV{BLENDER_USER_RESOURCES} ${BLENDER_HOME})
set(ENV{BLENDER_USER_CONFIG} ${BLENDER_HOME}/config)
set(ENV{BLENDER_USER_SCRIPTS} ${BLENDER_HOME}/scripts)
set(ENV{BLENDER_USER_DATAFILES} ${BLENDER_HOME}/datafiles)
execute_process(
    COMMAND ${BLENDER} -b --factory-startup --python-exit-code 1 --python ${SCRIPT}
        -- ${script_arguments}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${SCRIPT} failed in Blender (exit status ${status})")
endif()
