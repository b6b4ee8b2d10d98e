# vorna_embed_catalogue(<out_var> <ts_file> <name>)
# Compiles a translation source with lrelease and embeds the result as the resource
# ":/serbian.qm" (rcc format version 2). Sets <out_var> to the generated C++ source to add to a
# target. The panel embeds qml/serbian.ts this way; tests embed small catalogues of their own.
function(vorna_embed_catalogue out_var ts_file name)
  get_filename_component(ts_path ${ts_file} ABSOLUTE)
  set(qm ${CMAKE_CURRENT_BINARY_DIR}/${name}.qm)
  add_custom_command(
    OUTPUT ${qm}
    COMMAND Qt5::lrelease -silent ${ts_path} -qm ${qm}
    DEPENDS ${ts_path}
    COMMENT "Compiling the catalogue ${name}")

  set(qrc ${CMAKE_CURRENT_BINARY_DIR}/${name}.qrc)
  file(WRITE ${qrc}
    "<RCC>\n  <qresource prefix=\"/\">\n    <file alias=\"serbian.qm\">${qm}</file>\n  </qresource>\n</RCC>\n")
  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/qrc_${name}.cpp)
  add_custom_command(
    OUTPUT ${cpp}
    COMMAND Qt5::rcc --format-version 2 --name ${name} --output ${cpp} ${qrc}
    DEPENDS ${qm}
    COMMENT "Embedding the catalogue ${name}")
  set_source_files_properties(${cpp} PROPERTIES SKIP_AUTOGEN ON)
  set(${out_var} ${cpp} PARENT_SCOPE)
endfunction()
