// The drawn report: the assembly tree beside a 3D view of every csys the report lists, each a
// red/green/blue triad placed by the report's twelve numbers. All names are set as text.
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('report-data').textContent);
  var models = data.models, nodes = data.nodes, count = nodes.length;
  var LEVEL = 0, MODEL = 1, VALUES = 2;

  function nodeName(i) { return models[nodes[i][MODEL]][0]; }
  function nodeKind(i) { return models[nodes[i][MODEL]][1]; }

  // Tree structure from the levels (depth first order).
  var parent = new Int32Array(count), children = [];
  var stack = [];
  for (var i = 0; i < count; ++i) {
    children.push([]);
    var level = nodes[i][LEVEL];
    stack.length = level;
    parent[i] = level > 0 ? stack[level - 1] : -1;
    if (parent[i] >= 0) children[parent[i]].push(i);
    stack.push(i);
  }

  // Triads: twelve numbers per csys: Tx Ty Tz, x1 x2 x3, y1 y2 y3, z1 z2 z3, where x1 x2 x3 are
  // the first components of the x, y and z axes.
  var origins = [], axes = [[], [], []], triadNode = [], firstTriad = new Int32Array(count);
  var triadCount = new Int32Array(count);
  for (i = 0; i < count; ++i) {
    firstTriad[i] = triadNode.length;
    var text = nodes[i][VALUES];
    if (!text) continue;
    var v = text.trim().split(/ +/).map(Number);
    for (var k = 0; k + 12 <= v.length; k += 12) {
      origins.push(v[k], v[k + 1], v[k + 2]);
      for (var a = 0; a < 3; ++a) axes[a].push(v[k + 3 + a], v[k + 6 + a], v[k + 9 + a]);
      triadNode.push(i);
      ++triadCount[i];
    }
  }
  var triads = triadNode.length;

  // --- Header ---------------------------------------------------------------------------------
  document.getElementById('title').textContent = data.title;
  var summary = count - 1 + ' components';
  if (data.listing !== null) summary += ', ' + triads + ' csys "' + data.listing + '"';
  summary += data.reference !== null ? ', relative to the reference csys "' + data.reference + '"'
                                     : ', in the top model\u2019s coordinates';
  document.getElementById('summary').textContent = summary;
  if (data.note) {
    var note = document.getElementById('note');
    note.textContent = data.note;
    note.hidden = false;
  }

  // --- Tree (rows made when their parent is first opened) --------------------------------------
  var rowLine = [], childBox = [], open = new Uint8Array(count), selected = -1;
  function makeNode(i) {
    var node = document.createElement('div');
    node.className = 'node';
    var line = document.createElement('div');
    line.className = 'line';
    line.setAttribute('data-node', i);
    var toggle = document.createElement('span');
    toggle.className = 'toggle';
    toggle.textContent = children[i].length ? '\u25b8' : '';
    var lvl = document.createElement('span');
    lvl.className = 'level';
    lvl.textContent = nodes[i][LEVEL];
    var name = document.createElement('span');
    name.className = 'name';
    name.textContent = nodeName(i);
    var kind = document.createElement('span');
    kind.className = 'kind';
    kind.textContent = nodeKind(i);
    line.append(toggle, lvl, name, kind);
    if (triadCount[i]) {
      var mark = document.createElement('span');
      mark.className = 'csys';
      mark.textContent = '\u25cf csys' + (triadCount[i] > 1 ? ' \u00d7' + triadCount[i] : '');
      line.append(mark);
    }
    toggle.addEventListener('click', function (e) { e.stopPropagation(); setOpen(i, !open[i]); });
    line.addEventListener('click', function () { select(i, true); });
    node.append(line);
    rowLine[i] = line;
    return node;
  }
  function setOpen(i, yes) {
    if (!children[i].length || !!open[i] === yes) return;
    open[i] = yes ? 1 : 0;
    rowLine[i].firstChild.textContent = yes ? '\u25be' : '\u25b8';
    if (!childBox[i]) {
      var box = document.createElement('div');
      box.className = 'children';
      var part = document.createDocumentFragment();
      children[i].forEach(function (c) { part.append(makeNode(c)); });
      box.append(part);
      rowLine[i].parentNode.append(box);
      childBox[i] = box;
    }
    childBox[i].hidden = !yes;
  }
  function reveal(i) {
    var chain = [];
    for (var p = parent[i]; p >= 0; p = parent[p]) chain.push(p);
    while (chain.length) setOpen(chain.pop(), true);
  }
  document.getElementById('tree').append(makeNode(0));
  setOpen(0, true);
  if (count < 500) children[0].forEach(function (c) { setOpen(c, true); });

  // --- 3D view ---------------------------------------------------------------------------------
  var canvas = document.getElementById('view'), labels = document.getElementById('labels');
  var pane = document.getElementById('view-pane');
  var renderer;
  try {
    // Smoothed edges cost most where there is no graphics card: left off for large drawings.
    renderer = new THREE.WebGLRenderer({ canvas: canvas, antialias: triads <= 2000 });
  } catch (e) {
    document.body.setAttribute('data-error', 'no WebGL: ' + e.message);
    document.body.setAttribute('data-ready', '0');
    return;
  }
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  renderer.setClearColor(0xffffff);
  var scene = new THREE.Scene();
  var camera = new THREE.PerspectiveCamera(40, 1, 0.1, 1000);
  camera.up.set(0, 0, 1);
  var controls = new THREE.OrbitControls(camera, canvas);
  controls.screenSpacePanning = true;

  // One triad: three slim bars from the origin along its axes, drawn for every csys at once. Each
  // bar is a box of 8 corners drawn by index, so a triad costs 24 vertices.
  var bar = 0.045;
  var corners = [[0, -1, -1], [1, -1, -1], [1, 1, -1], [0, 1, -1],
                 [0, -1, 1], [1, -1, 1], [1, 1, 1], [0, 1, 1]];
  var faces = [0, 2, 1, 0, 3, 2, 4, 5, 6, 4, 6, 7, 0, 1, 5, 0, 5, 4,
               1, 2, 6, 1, 6, 5, 2, 3, 7, 2, 7, 6, 3, 0, 4, 3, 4, 7];
  var position = [], axisId = [], index = [];
  for (a = 0; a < 3; ++a) {
    corners.forEach(function (c) {
      position.push(c[0], c[1] * bar, c[2] * bar);
      axisId.push(a);
    });
    faces.forEach(function (f) { index.push(8 * a + f); });
  }
  function triadGeometry(o, x, y, z, n) {
    var g = new THREE.InstancedBufferGeometry();
    g.setAttribute('position', new THREE.Float32BufferAttribute(position, 3));
    g.setAttribute('axisId', new THREE.Float32BufferAttribute(axisId, 1));
    g.setIndex(index);
    g.setAttribute('iOrigin', new THREE.InstancedBufferAttribute(new Float32Array(o), 3));
    g.setAttribute('iX', new THREE.InstancedBufferAttribute(new Float32Array(x), 3));
    g.setAttribute('iY', new THREE.InstancedBufferAttribute(new Float32Array(y), 3));
    g.setAttribute('iZ', new THREE.InstancedBufferAttribute(new Float32Array(z), 3));
    var sel = new THREE.InstancedBufferAttribute(new Float32Array(n), 1);
    sel.setUsage(THREE.DynamicDrawUsage);
    g.setAttribute('iSel', sel);
    g.maxInstancedCount = n;
    return g;
  }
  function triadMaterial(pale) {
    return new THREE.ShaderMaterial({
      uniforms: { uSize: { value: 1 }, uPale: { value: pale } },
      vertexShader: [
        'attribute float axisId; attribute vec3 iOrigin; attribute vec3 iX; attribute vec3 iY;',
        'attribute vec3 iZ; attribute float iSel; uniform float uSize; uniform float uPale;',
        'varying vec3 vColor;',
        'void main() {',
        '  vec3 a = axisId < 0.5 ? iX : (axisId < 1.5 ? iY : iZ);',
        '  vec3 b = axisId < 0.5 ? iY : (axisId < 1.5 ? iZ : iX);',
        '  vec3 c = axisId < 0.5 ? iZ : (axisId < 1.5 ? iX : iY);',
        '  float s = uSize * (iSel > 0.5 ? 1.7 : 1.0);',
        '  vec3 p = iOrigin + s * (position.x * a + position.y * b + position.z * c);',
        '  vec3 colour = axisId < 0.5 ? vec3(1.0, 0.0, 0.0) : (axisId < 1.5 ? vec3(0.0, 0.8, 0.0)',
        '                                                               : vec3(0.0, 0.0, 1.0));',
        '  vColor = mix(colour, vec3(1.0), uPale);',
        '  gl_Position = projectionMatrix * modelViewMatrix * vec4(p, 1.0);',
        '}'].join('\n'),
      fragmentShader: 'varying vec3 vColor; void main() { gl_FragColor = vec4(vColor, 1.0); }'
    });
  }
  var geometry = triadGeometry(origins, axes[0], axes[1], axes[2], triads);
  var material = triadMaterial(0);
  var mesh = new THREE.Mesh(geometry, material);
  mesh.frustumCulled = false;  // the instances lie far beyond the one triad's bounds
  if (triads) scene.add(mesh);
  // The reference csys: the origin of the report's coordinates, a pale, larger triad.
  var refMaterial = triadMaterial(0.55);
  var refMesh = new THREE.Mesh(triadGeometry([0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1], 1),
                               refMaterial);
  refMesh.frustumCulled = false;
  scene.add(refMesh);
  var refName = data.reference !== null ? 'reference ' + data.reference : 'top model origin';

  // Scene extent: every triad origin and the reference.
  var box = new THREE.Box3(new THREE.Vector3(0, 0, 0), new THREE.Vector3(0, 0, 0));
  var p3 = new THREE.Vector3();
  for (i = 0; i < triads; ++i) box.expandByPoint(p3.fromArray(origins, 3 * i));
  var sphere = box.getBoundingSphere(new THREE.Sphere());
  var radius = Math.max(sphere.radius, 1);
  // Triads as large as most of them stand apart (the median distance to the nearest other origin,
  // from a sample), within limits set by the whole extent, so that crowds do not pile up.
  var nearest = [], step = Math.max(1, Math.floor(triads / 200));
  for (i = 0; i < triads; i += step) {
    var best = Infinity;
    for (var j = 0; j < triads; ++j) {
      var dx = origins[3 * i] - origins[3 * j], dy = origins[3 * i + 1] - origins[3 * j + 1];
      var dz = origins[3 * i + 2] - origins[3 * j + 2], d = dx * dx + dy * dy + dz * dz;
      if (d > 0 && d < best) best = d;
    }
    if (best < Infinity) nearest.push(Math.sqrt(best));
  }
  nearest.sort(function (p, q) { return p - q; });
  var spacing = nearest.length ? nearest[nearest.length >> 1] : radius;
  var baseSize = Math.min(Math.max(0.7 * spacing, radius / 1000), radius / 5);
  var sizeInput = document.getElementById('size');
  function applySize() {
    var s = baseSize * Math.pow(2, Number(sizeInput.value));
    material.uniforms.uSize.value = s;
    refMaterial.uniforms.uSize.value = 1.5 * s;
    render();
  }
  sizeInput.addEventListener('input', applySize);

  function fitAll() {
    var r = radius + 1.5 * baseSize;
    var distance = r / Math.sin(camera.fov * Math.PI / 360) * 1.05;
    var dir = new THREE.Vector3(1, -1.4, 0.9).normalize();
    controls.target.copy(sphere.center);
    camera.position.copy(sphere.center).addScaledVector(dir, distance);
    camera.near = distance / 1000;
    camera.far = distance * 20;
    camera.updateProjectionMatrix();
    controls.update();
    render();
  }
  document.getElementById('fit').addEventListener('click', fitAll);
  window.addEventListener('keydown', function (e) {
    if ((e.key === 'f' || e.key === 'F') && e.target.tagName !== 'INPUT') fitAll();
  });

  // Labels: component names at their triads, drawn on a 2D canvas over the view; where they
  // would crowd, one per cell of the screen. The selection and the reference always show.
  var ctx = labels.getContext('2d');
  var screen = new Float32Array(2 * triads), inFront = new Uint8Array(triads);
  var projected = new THREE.Vector3();
  function project() {
    var w = pane.clientWidth, h = pane.clientHeight;
    for (var t = 0; t < triads; ++t) {
      projected.fromArray(origins, 3 * t).project(camera);
      inFront[t] = projected.z < 1 && projected.z > -1 ? 1 : 0;
      screen[2 * t] = (projected.x + 1) / 2 * w;
      screen[2 * t + 1] = (1 - projected.y) / 2 * h;
    }
  }
  function drawLabels() {
    var ratio = window.devicePixelRatio || 1;
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.clearRect(0, 0, labels.width, labels.height);
    ctx.font = '12px sans-serif';
    ctx.textBaseline = 'bottom';
    var w = pane.clientWidth, h = pane.clientHeight, taken = {};
    function label(text, x, y, strong) {
      if (x < -50 || y < 0 || x > w || y > h + 14) return;
      var key = Math.floor(x / 90) + ':' + Math.floor(y / 16);
      if (!strong && taken[key]) return;
      taken[key] = true;
      ctx.fillStyle = strong ? '#000000' : '#3a3f45';
      ctx.font = (strong ? 'bold ' : '') + '12px sans-serif';
      ctx.fillText(text, x + 5, y - 3);
    }
    projected.set(0, 0, 0).project(camera);
    label(refName, (projected.x + 1) / 2 * w, (1 - projected.y) / 2 * h, true);
    if (selected >= 0)
      for (var s = 0; s < triadCount[selected]; ++s) {
        var ts = firstTriad[selected] + s;
        if (inFront[ts]) label(nodeName(selected), screen[2 * ts], screen[2 * ts + 1], true);
      }
    for (var t = 0; t < triads; ++t)
      if (inFront[t]) label(nodeName(triadNode[t]), screen[2 * t], screen[2 * t + 1], false);
  }

  function resize() {
    var w = pane.clientWidth, h = pane.clientHeight, ratio = window.devicePixelRatio || 1;
    renderer.setSize(w, h, false);
    labels.width = Math.round(w * ratio);
    labels.height = Math.round(h * ratio);
    camera.aspect = w / Math.max(h, 1);
    camera.updateProjectionMatrix();
  }
  var pending = false;
  function render() {
    renderer.render(scene, camera);
    project();
    drawLabels();
  }
  function requestRender() {
    if (pending) return;
    pending = true;
    requestAnimationFrame(function () { pending = false; render(); });
  }
  controls.addEventListener('change', requestRender);
  window.addEventListener('resize', function () { resize(); render(); });

  // --- Selection: a tree row and its triads -----------------------------------------------------
  var rowBox = document.getElementById('row'), rowText = document.getElementById('row-text');
  var header = 'Lebel Name  Type  Tx   Ty   Tz   x1   x2   x3   y1   y2   y3   z1   z2   z3';
  function select(i, fromTree) {
    var sel = geometry.getAttribute('iSel');
    if (selected >= 0) {
      rowLine[selected].classList.remove('selected');
      for (var s = 0; s < triadCount[selected]; ++s) sel.array[firstTriad[selected] + s] = 0;
    }
    selected = i;
    reveal(i);
    rowLine[i].classList.add('selected');
    if (!fromTree) rowLine[i].scrollIntoView({ block: 'nearest' });
    for (s = 0; s < triadCount[i]; ++s) sel.array[firstTriad[i] + s] = 1;
    sel.needsUpdate = true;
    document.body.setAttribute('data-selected', i);
    document.body.setAttribute('data-selected-triads', triadCount[i]);
    if (i === 0) {
      rowText.textContent = nodeName(0) + ' ' + nodeKind(0) + ': the top model (no row)';
    } else {
      var values = nodes[i][VALUES] || 'N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A';
      rowText.textContent = header + '\n' + nodes[i][LEVEL] + ' ' + nodeName(i) + ' ' +
                            nodeKind(i) + ' ' + values;
    }
    rowBox.hidden = false;
    render();
  }
  // A click (not a drag) on the view picks the triad whose origin lies nearest on the screen.
  var down = null;
  canvas.addEventListener('pointerdown', function (e) { down = [e.clientX, e.clientY]; });
  canvas.addEventListener('pointerup', function (e) {
    if (!down || Math.abs(e.clientX - down[0]) + Math.abs(e.clientY - down[1]) > 4) return;
    var r = canvas.getBoundingClientRect(), x = e.clientX - r.left, y = e.clientY - r.top;
    var best = -1, bestDistance = 12 * 12;
    for (var t = 0; t < triads; ++t) {
      if (!inFront[t]) continue;
      var dx = screen[2 * t] - x, dy = screen[2 * t + 1] - y, d = dx * dx + dy * dy;
      if (d < bestDistance) { best = t; bestDistance = d; }
    }
    if (best >= 0) select(triadNode[best], false);
  });

  // For scripts that drive the page (timing frames, selecting from outside).
  window.csysView = { camera: camera, controls: controls, renderer: renderer, render: render,
                      select: select };

  resize();
  applySize();
  fitAll();
  var pick = /^#node=(\d+)$/.exec(location.hash);
  if (pick && Number(pick[1]) < count) select(Number(pick[1]), false);
  render();
  var gl = renderer.getContext();
  gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));  // the frame is done
  // Time from the start of the page's loading to the first frame drawn.
  document.body.setAttribute('data-first-frame-ms', Math.round(performance.now()));
  document.body.setAttribute('data-ready', triads);
})();
