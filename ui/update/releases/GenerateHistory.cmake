# Writes the built-in release list (history.json) and the three small installer files
# it describes, so that its digests and sizes are true and tests can serve the files.
# Run as: cmake -DOUT_DIR=<dir> -DSOURCE_DIR=<ui/update> -P GenerateHistory.cmake
# The web host, download path and installer name come from the headers that the
# program itself uses, so they are written down in one place only.

function(read_constant header name out)
  file(STRINGS ${SOURCE_DIR}/${header} lines REGEX "${name}\\[\\] = \"[^\"]*\"")
  string(REGEX REPLACE ".*${name}\\[\\] = \"([^\"]*)\".*" "\\1" value "${lines}")
  if(value STREQUAL "")
    message(FATAL_ERROR "${name} not found in ${header}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

read_constant(UpdateHosts.h WebHost web_host)
read_constant(UpdateHosts.h DownloadPath download_path)
read_constant(InstallerPlatform.h FileNamePattern name_pattern)

file(MAKE_DIRECTORY ${OUT_DIR})

set(versions 0.15.31 0.15.30 0.15.29)
set(dates 2026-11-24T08:30:00Z 2026-10-29T09:12:40Z 2026-10-02T07:45:10Z)
set(notes_0.15.31 "## 改进\\n\\n- 波形图在暂停时保留悬停读数\\n- MCP 搜索结果带上通道名称\\n\\n## 修复\\n\\n- 串口断开后重连不再丢失首包")
set(notes_0.15.30 "## 新增\\n\\n- 控制面板支持下拉选项\\n- JSON 助手生成 cJSON 组装函数\\n\\n## 修复\\n\\n- 终端视图在备用屏幕下的滚动")
set(notes_0.15.29 "## 改进\\n\\n- SSH 会话记住主机别名\\n- 帧脚本编辑器显示错误所在行\\n\\n## 修复\\n\\n- 日志导出在长行处截断")

set(entries "")
set(index 0)
foreach(version IN LISTS versions)
  list(GET dates ${index} date)
  string(REPLACE "%1" "${version}" file_name "${name_pattern}")
  set(tag "v${version}")
  # A small, deterministic stand-in for the published installer of this version.
  set(content "#!/bin/sh\n# Varnelle ${version} installer stand-in, written by the build.\necho 'Varnelle ${version}'\n")
  math(EXPR lines "200 + ${index} * 37")
  foreach(line RANGE 1 ${lines})
    string(APPEND content "# ${version} line ${line}\n")
  endforeach()
  file(WRITE ${OUT_DIR}/${file_name} "${content}")
  file(SHA256 ${OUT_DIR}/${file_name} digest)
  file(SIZE ${OUT_DIR}/${file_name} size)

  string(REPLACE "%1" "${tag}" path "${download_path}")
  string(REPLACE "%2" "${file_name}" path "${path}")
  set(entry "  {\n    \"tag_name\": \"${tag}\",\n    \"name\": \"Varnelle ${version}\",\n")
  string(APPEND entry "    \"draft\": false,\n    \"prerelease\": false,\n")
  string(APPEND entry "    \"published_at\": \"${date}\",\n    \"body\": \"${notes_${version}}\",\n")
  string(APPEND entry "    \"assets\": [\n      {\n        \"name\": \"${file_name}\",\n")
  string(APPEND entry "        \"state\": \"uploaded\",\n        \"size\": ${size},\n")
  string(APPEND entry "        \"digest\": \"sha256:${digest}\",\n")
  string(APPEND entry "        \"browser_download_url\": \"https://${web_host}${path}\"\n      }\n    ]\n  }")
  list(APPEND entries "${entry}")
  math(EXPR index "${index} + 1")
endforeach()

list(JOIN entries ",\n" body)
file(WRITE ${OUT_DIR}/history.json.new "[\n${body}\n]\n")
# Rewritten only when it changed, so the resource is not rebuilt for nothing.
file(COPY_FILE ${OUT_DIR}/history.json.new ${OUT_DIR}/history.json ONLY_IF_DIFFERENT)
file(REMOVE ${OUT_DIR}/history.json.new)
