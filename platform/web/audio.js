// The sound's side in the page: Web Audio, on the AudioContext the page made
// (or resumed) inside the click that started the play, as browsers allow
// sound only after a user gesture. Linked with --js-library.
mergeInto(LibraryManager.library, {
  $pelmiraAudio: {buffer: null, source: null},

  // Hands the 16-bit samples to an AudioBuffer at their own rate (Web Audio
  // resamples to the device), starts it a little ahead so the first sample
  // is not late, and returns the page time, in performance.now()
  // milliseconds, at which that sample is due at the speaker; -1 without a
  // context.
  pelmiraStartSound__deps: ['$pelmiraAudio', 'pelmiraPlayBuffer'],
  pelmiraStartSound: function(samples, frames, channels, rate) {
    var context = Module['audioContext'];
    if (!context) return -1;
    var buffer = context.createBuffer(channels, frames, rate);
    var pcm = HEAP16.subarray(samples >> 1, (samples >> 1) + frames * channels);
    for (var c = 0; c < channels; c++) {
      var data = buffer.getChannelData(c);
      for (var i = 0; i < frames; i++) data[i] = pcm[i * channels + c] / 32768;
    }
    pelmiraAudio.buffer = buffer;
    // Readable by the page's tests: exactly the samples Web Audio plays.
    Module['soundBuffer'] = buffer;
    return _pelmiraPlayBuffer();
  },

  pelmiraPlayBuffer__deps: ['$pelmiraAudio'],
  pelmiraPlayBuffer: function() {
    var context = Module['audioContext'];
    var audio = pelmiraAudio;
    if (!context || !audio.buffer) return -1;
    if (audio.source) audio.source.stop();
    var source = context.createBufferSource();
    source.buffer = audio.buffer;
    source.connect(context.destination);
    // A render quantum or two ahead, so the start is never in the past.
    var startAt = context.currentTime + 0.02;
    source.start(startAt);
    audio.source = source;
    // The output timestamp maps the context's clock to the page's at the
    // speaker; where the browser gives none, the stated latencies stand in.
    var stamp = context.getOutputTimestamp ? context.getOutputTimestamp() : null;
    if (stamp && stamp.performanceTime > 0)
      return stamp.performanceTime + (startAt - stamp.contextTime) * 1000;
    var latency = (context.baseLatency || 0) + (context.outputLatency || 0);
    return performance.now() + (startAt - context.currentTime + latency) * 1000;
  },

  pelmiraStopSound__deps: ['$pelmiraAudio'],
  pelmiraStopSound: function() {
    if (pelmiraAudio.source) pelmiraAudio.source.stop();
    pelmiraAudio.source = null;
  },

  waitUntil: function(pageTime) {
    return Asyncify.handleSleep(function(wakeUp) {
      setTimeout(function() { wakeUp(); }, Math.max(0, pageTime - performance.now()));
    });
  },
});
