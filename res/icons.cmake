# The application icon is drawn once, as ferrotick.svg; the PNGs that
# menus, docks and the window use are made from it at build time.
# Sets FERROTICK_ICON_SIZES, FERROTICK_ICON_DIR (where ferrotick-<size>.png
# are made, beside a copy of ferrotick.qrc) and the target ferrotick_icons.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)

set(FERROTICK_ICON_SIZES 16 32 48 64 128 256)
set(FERROTICK_ICON_DIR ${CMAKE_CURRENT_BINARY_DIR}/icons)
set(FERROTICK_ICON_SVG ${CMAKE_CURRENT_LIST_DIR}/ferrotick.svg)

set(pngs)
foreach(size ${FERROTICK_ICON_SIZES})
  set(png ${FERROTICK_ICON_DIR}/ferrotick-${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${FERROTICK_ICON_DIR}
    COMMAND ${RSVG_CONVERT} --width=${size} --height=${size}
      --output=${png} ${FERROTICK_ICON_SVG}
    DEPENDS ${FERROTICK_ICON_SVG}
    COMMENT "Drawing the ${size} px icon")
  list(APPEND pngs ${png})
endforeach()
add_custom_target(ferrotick_icons ALL DEPENDS ${pngs})

# The Qt resource names its files relative to itself.
configure_file(${CMAKE_CURRENT_LIST_DIR}/ferrotick.qrc
  ${FERROTICK_ICON_DIR}/ferrotick.qrc COPYONLY)
