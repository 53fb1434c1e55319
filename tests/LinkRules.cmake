# Which libraries each part may link, checked on what it links in the end:
# its own libraries and, through them, theirs. The GL-free libraries
# (imageset, viewer_logic) link no picture, GL, X or widget library, the
# editor none of the viewer's GL code, the tests' support for pictures no GL.
# The parts of texture loading keep to their seams: decoding knows no set,
# cache or GL; the preload and the cache know each other only through
# texture_store, and neither knows GL; the GL stage knows neither of them.
#
# Included by tests/CMakeLists.txt, after every target is known, it writes
# what breaks the rules to link-rules.txt; run as a script (-P) by the test
# build::LinkRules, it fails when that list is not empty.

if(CMAKE_SCRIPT_MODE_FILE)
    file(READ "${REPORT}" broken)
    if(NOT broken STREQUAL "")
        message(FATAL_ERROR "Libraries linked against the rules:\n${broken}")
    endif()
    message(STATUS "Every library links only what it may.")
    return()
endif()

# Everything `target` links, directly or through the project's own targets,
# by name. What an outside library links in turn is its own business (Qt's
# widgets link GL): only its name counts.
function(orbivue_links_of target out)
    get_target_property(pending ${target} LINK_LIBRARIES)
    if(NOT pending)
        set(pending "")
    endif()
    set(seen "")
    while(pending)
        list(POP_FRONT pending item)
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
        if(item STREQUAL "" OR item IN_LIST seen)
            continue()
        endif()
        list(APPEND seen "${item}")
        if(TARGET "${item}")
            get_target_property(imported "${item}" IMPORTED)
        endif()
        if(TARGET "${item}" AND NOT imported)
            get_target_property(next "${item}" INTERFACE_LINK_LIBRARIES)
            if(next)
                list(APPEND pending ${next})
            endif()
        endif()
    endwhile()
    set(${out} "${seen}" PARENT_SCOPE)
endfunction()

set(picture_gl_widgets
    "^(Qt6::(Gui|Widgets|OpenGL.*)|OpenGL::.*|GLUT::.*|X11::.*|PkgConfig::(TURBOJPEG|PNG|LCMS2)|texture_(decode|preload|cache|store)|texture|viewer)$")
set(viewer_gl "^(viewer|texture|texture_preload|texture_cache|OpenGL::.*|GLUT::.*)$")
set(gl_window "OpenGL::.*|GLUT::.*|X11::.*|texture|viewer.*")
set(orbivue_link_rules
    "imageset\;${picture_gl_widgets}"
    "viewer_logic\;${picture_gl_widgets}"
    "editor\;${viewer_gl}"
    "test_support\;^(${gl_window})$"
    "texture_decode\;^(${gl_window}|texture_store|texture_preload|texture_cache|imageset)$"
    "texture_preload\;^(${gl_window}|texture_cache|imageset)$"
    "texture_cache\;^(${gl_window}|texture_preload|imageset)$"
    "texture\;^(GLUT::.*|X11::.*|viewer.*|texture_store|texture_preload|texture_cache)$")

set(broken "")
foreach(rule IN LISTS orbivue_link_rules)
    list(GET rule 0 target)
    list(GET rule 1 forbidden)
    orbivue_links_of(${target} links)
    foreach(link IN LISTS links)
        if(link MATCHES "${forbidden}")
            string(APPEND broken "${target} links ${link}\n")
        endif()
    endforeach()
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/link-rules.txt "${broken}")
add_test(NAME build::LinkRules
    COMMAND ${CMAKE_COMMAND} -DREPORT=${CMAKE_CURRENT_BINARY_DIR}/link-rules.txt
            -P ${CMAKE_CURRENT_LIST_FILE})
set_tests_properties(build::LinkRules PROPERTIES LABELS build)
