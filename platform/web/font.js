// The text images' side in the page: the browser's own font rasteriser on a
// canvas 2D surface. Linked with --js-library.
mergeInto(LibraryManager.library, {
  // Draws the Windows-1250 bytes in anti-aliased white, semibold, in a cell
  // cellHeight pixels high, centred on column 128 with the cell's top on row
  // 128, and writes the 256x256 image bottom-up as blue, green, red, 0.
  // Returns 0 when the page cannot draw text (no canvas 2D).
  pelmiraDrawText: function(image, cellHeight, text, length) {
    // Verdana where the system has it, else the faces closest to it in shape
    // and width, then whatever sans-serif face the browser picks.
    var faces = '"Verdana", "DejaVu Sans", "Bitstream Vera Sans", "Tahoma", "Geneva", sans-serif';
    var size = 256;
    var canvas = document.createElement('canvas');
    canvas.width = size;
    canvas.height = size;
    var g = canvas.getContext('2d', {willReadFrequently: true});
    if (!g) return 0;
    var words = new TextDecoder('windows-1250').decode(HEAPU8.slice(text, text + length));
    // A Windows cell height is the face's ascent plus descent, not its em:
    // the font's own box at 100 pixels says how much larger the cell is.
    g.font = '600 100px ' + faces;
    var probe = g.measureText(words);
    var cellAt100 = probe.fontBoundingBoxAscent + probe.fontBoundingBoxDescent;
    var em = cellAt100 > 0 ? cellHeight * 100 / cellAt100 : cellHeight;
    g.font = '600 ' + em + 'px ' + faces;
    var ascent = g.measureText(words).fontBoundingBoxAscent || em * 0.8;
    // White on a transparent surface: the alpha channel is the coverage,
    // free of the colour fringes some platforms give text on opaque canvases.
    g.fillStyle = '#fff';
    g.textAlign = 'center';
    g.textBaseline = 'alphabetic';
    g.fillText(words, 128, 128 + Math.round(ascent));
    var pixels = g.getImageData(0, 0, size, size).data;
    for (var y = 0; y < size; y++) {
      var from = y * size * 4;
      var to = image + (size - 1 - y) * size * 4;
      for (var x = 0; x < size; x++) {
        var level = pixels[from + x * 4 + 3];
        HEAPU8[to + x * 4] = level;
        HEAPU8[to + x * 4 + 1] = level;
        HEAPU8[to + x * 4 + 2] = level;
        HEAPU8[to + x * 4 + 3] = 0;
      }
    }
    return 1;
  },
});
