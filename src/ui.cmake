# The window classes (target ui) and the manager executable ovrinkey.
# Included from src/CMakeLists.txt. Files other areas are still writing are guarded, so
# the target builds from whatever of them exists.

set(UI_SOURCES mainwindow.ui)
foreach(file mainwindow.h mainwindow.cpp guardedslot.h guardedslot.cpp fonts.h fonts.cpp hidpi.h hidpi.cpp mainwindow_keyinfo.cpp mainwindow_pin.cpp mainwindow_containers.cpp mainwindow_certificates.cpp mainwindow_expiry.cpp mainwindow_accessibility.cpp desktopnotice.h desktopnotice.cpp benchprobe.h benchprobe.cpp version.h version.cpp mymessagebox.h mymessagebox.cpp mymessagebox.ui resources/resource.qrc)
    if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${file}")
        list(APPEND UI_SOURCES ${file})
    endif()
endforeach()

add_library(ui STATIC ${UI_SOURCES})
set_target_properties(ui PROPERTIES AUTOMOC ON AUTOUIC ON AUTORCC ON)
# The generated ui_*.h headers are part of the target's interface: window headers and the
# widget tests include them.
target_include_directories(ui PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}" "${CMAKE_CURRENT_BINARY_DIR}/ui_autogen/include")
target_link_libraries(ui PUBLIC token multilang Qt5::Widgets Qt5::DBus)
if(TARGET certparse)
    target_link_libraries(ui PUBLIC certparse)
endif()

# The pictures are committed; this target draws them again after the drawing code changes:
#   cmake --build <dir> --target render_resources
if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/resources/render/render_resources.cpp")
    add_executable(render_resources EXCLUDE_FROM_ALL resources/render/render_resources.cpp)
    target_link_libraries(render_resources PRIVATE Qt5::Gui)
    add_custom_target(render_resources_run
        COMMAND env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:render_resources> "${CMAKE_CURRENT_SOURCE_DIR}/resources"
        DEPENDS render_resources
        COMMENT "Drawing the pictures of the resource bundle into src/resources")
endif()

if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/main.cpp")
    add_executable(ovrinkey main.cpp)
    target_link_libraries(ovrinkey PRIVATE ui)
endif()
