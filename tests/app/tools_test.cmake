# Runs zefedit's command-line media tools on files made with the ffmpeg program.
# Called by CTest: cmake -DZEFEDIT=... -DWORK=... -P tools_test.cmake
file(MAKE_DIRECTORY ${WORK})

function(run_checked)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}${err}")
    endif()
endfunction()

function(expect_tool expected_rc regex)
    execute_process(COMMAND ${ZEFEDIT} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    if(NOT rc EQUAL expected_rc)
        message(FATAL_ERROR "zefedit ${ARGN}: exit ${rc}, expected ${expected_rc}\n${out}${err}")
    endif()
    if(NOT "${out}${err}" MATCHES "${regex}")
        message(FATAL_ERROR "zefedit ${ARGN}: output does not match '${regex}':\n${out}${err}")
    endif()
endfunction()

set(clip ${WORK}/tools-clip.mov)
set(mkv ${WORK}/tools-clip.mkv)
set(png ${WORK}/tools-frame.png)
run_checked(ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=white:s=160x120:r=30000/1001:d=1
            -f lavfi -i sine=f=440:r=22050:d=1 -c:v mpeg4 -c:a pcm_s16le ${clip})
run_checked(ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=white:s=160x120:d=1 ${mkv})
file(WRITE ${WORK}/tools-notes.txt "not media\n")

expect_tool(0 "track 1: vide visual time-scale 30000 frame-rate 29.970 \\(30000/1001\\) frames 30 size 160x120 codec 'mp4v'"
            --probe ${clip})
expect_tool(0 "track 2: soun audible time-scale 22050 rate 22050 channels 1" --probe ${clip})
expect_tool(1 "not a movie" --probe ${mkv})
expect_tool(1 "cannot open" --probe ${WORK}/tools-notes.txt)
expect_tool(0 "--probe FILE" --help)

file(REMOVE ${png})
expect_tool(0 "" --frame ${clip} 0.5 ${png} 40x30)
execute_process(COMMAND ffprobe -v error -show_entries stream=width,height,pix_fmt -of csv=p=0 ${png}
                OUTPUT_VARIABLE info)
if(NOT info MATCHES "^40,30,rgba")
    message(FATAL_ERROR "frame tool wrote '${info}'")
endif()
# The picture is the white clip: every pixel white and opaque.
run_checked(ffmpeg -nostdin -loglevel error -y -i ${png} -f rawvideo -pix_fmt gray
            ${WORK}/tools-frame.gray)
file(READ ${WORK}/tools-frame.gray gray HEX)
string(LENGTH "${gray}" length)
string(REGEX REPLACE "f[0-9a-f]" "" dark "${gray}")
if(NOT length EQUAL 2400 OR NOT dark STREQUAL "")
    message(FATAL_ERROR "frame tool picture is not white (${length} hex digits)")
endif()
expect_tool(1 "no picture" --frame ${clip} 5 ${png})
expect_tool(1 "bad size" --frame ${clip} 0 ${png} 0x5)

# A movie whose track matrix turns its pictures: stored 160×120 with a white top half, tagged
# with the turn that this system's ffmpeg program writes for "rotate=90" (a quarter turn
# counter-clockwise). The toolbox shows it 120×160 with the white half on the left.
set(stored ${WORK}/tools-stored.mov)
set(turned ${WORK}/tools-turned.mov)
run_checked(ffmpeg -nostdin -loglevel error -y -f lavfi
            -i color=c=black:s=160x120:d=1,drawbox=x=0:y=0:w=160:h=60:color=white:t=fill
            -c:v mpeg4 -q:v 2 ${stored})
run_checked(ffmpeg -nostdin -loglevel error -y -i ${stored} -c copy -metadata:s:v rotate=90
            ${turned})
expect_tool(0 "track 1: vide visual .* size 120x160 codec 'mp4v' depth 24 rotate 270\n"
            --probe ${turned})
file(REMOVE ${png})
expect_tool(0 "" --frame ${turned} 0 ${png})
execute_process(COMMAND ffprobe -v error -show_entries stream=width,height -of csv=p=0 ${png}
                OUTPUT_VARIABLE info)
if(NOT info MATCHES "^120,160")
    message(FATAL_ERROR "frame tool wrote a turned movie's picture at '${info}'")
endif()
run_checked(ffmpeg -nostdin -loglevel error -y -i ${png} -f rawvideo -pix_fmt gray
            ${WORK}/tools-turned.gray)
file(READ ${WORK}/tools-turned.gray gray HEX)
# Row 80: its left end white, its right end black.
math(EXPR left "80 * 120 * 2 + 2 * 2")
math(EXPR right "80 * 120 * 2 + 115 * 2")
string(SUBSTRING "${gray}" ${left} 2 leftPixel)
string(SUBSTRING "${gray}" ${right} 2 rightPixel)
if(NOT leftPixel MATCHES "^[ef]" OR NOT rightPixel MATCHES "^[01]")
    message(FATAL_ERROR "frame tool picture of a turned movie is not upright "
                        "(left ${leftPixel}, right ${rightPixel})")
endif()
