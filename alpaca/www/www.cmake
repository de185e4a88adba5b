# Embeds the files of alpaca/www into a target: velq3_embed_www(<target>) adds a generated
# source that WwwFile() in alpaca/WwwFiles.h reads them from.
set(VELQ3_WWW_DIR ${CMAKE_CURRENT_LIST_DIR})
function(velq3_embed_www target)
  file(GLOB _www CONFIGURE_DEPENDS ${VELQ3_WWW_DIR}/*.html ${VELQ3_WWW_DIR}/*.css ${VELQ3_WWW_DIR}/*.js)
  list(SORT _www)
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/${target}_www/WwwFiles.cpp)
  string(REPLACE ";" "|" _files "${_www}")
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -DOUT=${_out} -DFILES=${_files} -P ${VELQ3_WWW_DIR}/embed.cmake
    DEPENDS ${_www} ${VELQ3_WWW_DIR}/embed.cmake
    COMMENT "Embedding the setup pages' files"
    VERBATIM)
  target_sources(${target} PRIVATE ${_out})
endfunction()
