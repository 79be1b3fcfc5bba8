// glPushAttrib and glPopAttrib, which Emscripten's fixed-function emulation
// lacks. The emulation keeps part of the state in JavaScript (texturing and
// fog on or off, the fog values, the current colour) where glGet cannot
// reach it, so the state is read from there and from the WebGL context, and
// put back through the emulation's own calls. Covered: what a fixed-function
// program on this emulation can change of the enable, colour-buffer, fog,
// current, depth-buffer and texture groups: the capabilities below, the
// blend function, the fog's colour, density, start, end and mode, the current
// colour, the depth function and mask, and the 2D texture bound. Linked
// with --js-library.
mergeInto(LibraryManager.library, {
  $pelmiraAttribStack: [],

  glPushAttrib__deps: ['$pelmiraAttribStack', '$GLImmediate', '$GLEmulation', '$GL'],
  glPushAttrib: function(mask) {
    // OpenGL's own limit: a deeper push is a stack overflow, ignored.
    if (pelmiraAttribStack.length >= 16) return;
    var gl = GLctx;
    var bound = gl.getParameter(gl.TEXTURE_BINDING_2D);
    pelmiraAttribStack.push({
      mask: mask,
      texture2d: GLImmediate.TexEnvJIT.getTexUnitType(0) === gl.TEXTURE_2D,
      fog: GLEmulation.fogEnabled,
      caps: [gl.DEPTH_TEST, gl.BLEND, gl.CULL_FACE].map(function(cap) {
        return [cap, gl.isEnabled(cap)];
      }),
      blend: [gl.getParameter(gl.BLEND_SRC_RGB), gl.getParameter(gl.BLEND_DST_RGB)],
      fogColor: GLEmulation.fogColor.slice(),
      fogValues: [GLEmulation.fogDensity, GLEmulation.fogStart, GLEmulation.fogEnd,
                  GLEmulation.fogMode],
      colour: GLImmediate.clientColor.slice(),
      depth: [gl.getParameter(gl.DEPTH_FUNC), gl.getParameter(gl.DEPTH_WRITEMASK)],
      // Our white stand-in for texture 0 is no name of GL's: 0.
      texture: Math.max(0, GL.textures.indexOf(bound)),
    });
  },

  glPopAttrib__deps: ['$pelmiraAttribStack', 'glEnable', 'glDisable', 'glBlendFunc', 'glFogf',
                      'glColor4f', 'glDepthFunc', 'glDepthMask', 'glBindTexture'],
  glPopAttrib: function() {
    var saved = pelmiraAttribStack.pop();
    if (!saved) return;
    var set = function(cap, on) { if (on) _glEnable(cap); else _glDisable(cap); };
    var mask = saved.mask;
    if (mask & 0x2000 /* GL_ENABLE_BIT */) {
      set(0x0DE1 /* GL_TEXTURE_2D */, saved.texture2d);
      set(0x0B60 /* GL_FOG */, saved.fog);
      saved.caps.forEach(function(c) { set(c[0], c[1]); });
    } else {
      if (mask & 0x4000 /* GL_COLOR_BUFFER_BIT */) set(0x0BE2 /* GL_BLEND */, saved.caps[1][1]);
      if (mask & 0x0100 /* GL_DEPTH_BUFFER_BIT */) set(0x0B71 /* GL_DEPTH_TEST */, saved.caps[0][1]);
      if (mask & 0x0040 /* GL_FOG_BIT */) set(0x0B60 /* GL_FOG */, saved.fog);
      if (mask & 0x40000 /* GL_TEXTURE_BIT */) set(0x0DE1 /* GL_TEXTURE_2D */, saved.texture2d);
    }
    if (mask & 0x4000) _glBlendFunc(saved.blend[0], saved.blend[1]);
    if (mask & 0x0040 /* GL_FOG_BIT */) {
      GLEmulation.fogColor.set(saved.fogColor);
      _glFogf(0x0B62 /* GL_FOG_DENSITY */, saved.fogValues[0]);
      _glFogf(0x0B63 /* GL_FOG_START */, saved.fogValues[1]);
      _glFogf(0x0B64 /* GL_FOG_END */, saved.fogValues[2]);
      _glFogf(0x0B65 /* GL_FOG_MODE */, saved.fogValues[3]);
    }
    if (mask & 0x0001 /* GL_CURRENT_BIT */)
      _glColor4f(saved.colour[0], saved.colour[1], saved.colour[2], saved.colour[3]);
    if (mask & 0x0100 /* GL_DEPTH_BUFFER_BIT */) {
      _glDepthFunc(saved.depth[0]);
      _glDepthMask(saved.depth[1]);
    }
    if (mask & 0x40000 /* GL_TEXTURE_BIT */) _glBindTexture(0x0DE1, saved.texture);
  },
});
