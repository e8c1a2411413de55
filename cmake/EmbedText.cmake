# Writes a header that holds text files as C++ raw string constants.
# Inputs: OUTPUT, NAMESPACE, and FILES as "name=path,name=path".
string(REPLACE "," ";" FILES "${FILES}")
set(content "#pragma once\n\nnamespace ${NAMESPACE} {\n")
foreach(entry IN LISTS FILES)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 path)
  file(READ "${path}" text)
  string(APPEND content "inline constexpr const char* ${name} = R\"brivokjs(${text})brivokjs\";\n")
endforeach()
string(APPEND content "}  // namespace ${NAMESPACE}\n")
file(WRITE "${OUTPUT}.tmp" "${content}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
