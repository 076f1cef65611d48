# zul_room(TARGET FOLDER): TARGET is the library of src/FOLDER, whose headers are
# included as "FOLDER/File.h".
#
# A shared include root over src/ would let any folder include any header. Instead
# every folder gets its own root in the build tree, holding one link named FOLDER
# to src/FOLDER, and that root is TARGET's public include directory: a target
# sees the headers of itself and of what it links (directly or publicly through
# another library), and an include of any other folder does not compile.
# A nested folder (host/history) is reachable through its parent's link as well,
# so a parent folder must link its nested ones.
function(zul_room target folder)
  string(REPLACE "/" "_" key "${folder}")
  set(root "${CMAKE_BINARY_DIR}/include/${key}")
  cmake_path(GET folder PARENT_PATH parent)
  file(MAKE_DIRECTORY "${root}/${parent}")
  file(CREATE_LINK "${CMAKE_SOURCE_DIR}/src/${folder}" "${root}/${folder}" SYMBOLIC)
  target_include_directories(${target} PUBLIC "$<BUILD_INTERFACE:${root}>")
endfunction()
