# The benchmark movies, sourced by the benchmark scripts: FRAMES (default 60)
# frames of each of KINDS (default "testsrc2 noise smooth") at each of SIZES
# (default "1280x720 1920x1080"), made by ffmpeg as packed 24-bit "raw "
# movies (or, where asked, Y'CbCr 4:2:2 "2vuy" ones).
frames=${FRAMES:-60}
sizes=${SIZES:-"1280x720 1920x1080"}
kinds=${KINDS:-"testsrc2 noise smooth"}

source_filter() {  # kind size
    case $1 in
    testsrc2) echo "testsrc2=size=$2:rate=25" ;;
    noise) echo "nullsrc=size=$2:rate=25,geq=random(1)*255:128:128" ;;
    # A slow zoom into the set: smooth gradients that move every frame.
    smooth) echo "mandelbrot=size=$2:rate=25:start_scale=0.5:end_scale=0.3:end_pts=400" ;;
    esac
}

make_movie() {  # kind size path [packing: rgb24, or uyvy422 for a "2vuy" movie]
    ffmpeg -v error -y -f lavfi -i "$(source_filter "$1" "$2")" -frames:v "$frames" \
        -c:v rawvideo -pix_fmt "${4:-rgb24}" -movflags +faststart "$3"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
