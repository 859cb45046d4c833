# onefile_default_icon(<target> <output.ico>): draws the project's icon into
# <output.ico> at build time; <target> (in ALL) stands for it.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(ONEFILE_DEFAULT_ICON_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/draw_icon.py")

function(onefile_default_icon target output)
  add_custom_command(OUTPUT "${output}"
    COMMAND Python3::Interpreter "${ONEFILE_DEFAULT_ICON_SCRIPT}" "${output}"
    DEPENDS "${ONEFILE_DEFAULT_ICON_SCRIPT}"
    COMMENT "Drawing the default icon"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
