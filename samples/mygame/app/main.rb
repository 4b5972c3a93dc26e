# The sample game: a small fleet of ships drifts through a scrolling
# starfield, with a minimap in the corner. The arrow keys or WASD (or the
# first controller's stick) steer the lead ship; a mouse click sends it to
# the clicked point.
#
# Edit this file while the game runs: it reloads within about a second.
# The images in sprites/ are drawn by scripts/make_sample_art.py.
#
# Everything here is plain Hashes: a Hash with x, y, w, h and path is a
# sprite, one with text is a label. Everything that must last from one
# tick to the next lives in args.state; outputs are emptied every tick.

SCREEN_W = 1280
SCREEN_H = 720
MAP_W = 256
MAP_H = 144
DEGREES = Math::PI / 180 # radians in one degree

def tick args
  setup args unless args.state.ships
  steer_lead_ship args
  move_ships args
  scroll_stars args
  render args
  log_uptime args
end

# Runs once: creates the stars and ships the game keeps in args.state.
def setup args
  args.state.stars = 80.times.map do |i|
    # A fixed pattern instead of rand, so every run looks the same.
    speed = 1 + i % 4
    size = 4 + speed * 3
    { x: (i * 331) % SCREEN_W, y: (i * 197) % SCREEN_H, w: size, h: size,
      path: "sprites/star.png", speed: speed, a: 80 + speed * 40 }
  end
  args.state.ships = 4.times.map do |i|
    { x: 200 + i * 220, y: 200 + i * 90, w: 64, h: 64, path: "sprites/ship.png",
      angle: 0, phase: i * 90, speed: 2 + i }
  end
  # The deck along the bottom never changes, so it is built once.
  args.state.deck = (SCREEN_W / 64).ceil.times.map do |i|
    { x: i * 64, y: 0, w: 64, h: 64, path: "sprites/tile.png" }
  end
end

# The lead ship follows the arrow keys, WASD or the first controller's
# stick; a mouse click sends it flying to the clicked point instead.
def steer_lead_ship args
  lead = args.state.ships[0]
  click = args.inputs.mouse.click
  args.state.target = { x: click.x - lead.w / 2, y: click.y - lead.h / 2 } if click

  dx = args.inputs.left_right * 6
  dy = args.inputs.up_down * 6
  if dx != 0 || dy != 0
    args.state.target = nil # the keys take over
  elsif args.state.target
    dx, dy = step_towards(lead, args.state.target, 8)
    args.state.target = nil if dx == 0 && dy == 0
  end
  return if dx == 0 && dy == 0

  lead.x = (lead.x + dx).clamp(0, SCREEN_W - lead.w)
  lead.y = (lead.y + dy).clamp(64, SCREEN_H - lead.h)
  lead.angle = Math.atan2(dy, dx) / DEGREES
end

# At most `speed` units from the ship towards the target; 0, 0 once there.
def step_towards ship, target, speed
  dx = target.x - ship.x
  dy = target.y - ship.y
  distance = Math.sqrt(dx * dx + dy * dy)
  return [0, 0] if distance < 1
  return [dx, dy] if distance <= speed

  [dx * speed / distance, dy * speed / distance]
end

# The other ships fly left to right on a wave; the angle follows the wave's
# slope so they nose up and down.
def move_ships args
  args.state.ships.each_with_index do |ship, i|
    next if i == 0 # the lead ship is steered instead

    ship.x += ship.speed
    ship.x = -ship.w if ship.x > SCREEN_W
    wave = (Kernel.tick_count * 2 + ship.phase) * DEGREES
    ship.y += Math.sin(wave) * 2
    ship.angle = Math.cos(wave) * 30
  end
end

# Near (fast, large) stars pass faster than far ones.
def scroll_stars args
  args.state.stars.each do |star|
    star.x -= star.speed
    star.x += SCREEN_W + star.w if star.x < -star.w
  end
end

def render args
  # A solid covering the whole screen: the night sky.
  args.outputs.solids << { x: 0, y: 0, w: SCREEN_W, h: SCREEN_H, r: 12, g: 14, b: 38 }
  args.outputs.sprites << args.state.stars
  args.outputs.sprites << args.state.deck
  args.outputs.sprites << args.state.ships

  # A pulsing, turning beacon: something that animates on its own.
  pulse = 48 + 16 * Math.sin(Kernel.tick_count * 4 * DEGREES)
  args.outputs.sprites << { x: 1100 - pulse / 2, y: 300 - pulse / 2, w: pulse, h: pulse,
                            path: "sprites/star.png", angle: Kernel.tick_count * 2,
                            r: 255, g: 200, b: 120 }

  render_minimap args

  args.outputs.labels << { x: 24, y: SCREEN_H - 24, text: "Moonforge Orbkit Sample Game",
                           size_enum: 6, r: 240, g: 240, b: 255 }
  args.outputs.labels << { x: 24, y: SCREEN_H - 64, text: "tick #{Kernel.tick_count}",
                           size_enum: 1, r: 180, g: 190, b: 230 }
end

# The minimap is a render target: drawn like the screen into
# args.outputs[:minimap], then shown as a sprite whose path is :minimap.
def render_minimap args
  map = args.outputs[:minimap]
  map.w = MAP_W
  map.h = MAP_H
  map.solids << { x: 0, y: 0, w: MAP_W, h: MAP_H, r: 0, g: 0, b: 0, a: 160 }
  args.state.ships.each_with_index do |ship, i|
    map.solids << { x: ship.x * MAP_W / SCREEN_W, y: ship.y * MAP_H / SCREEN_H, w: 6, h: 6,
                    r: i == 0 ? 255 : 90, g: i == 0 ? 210 : 160, b: i == 0 ? 80 : 255 }
  end
  args.outputs.sprites << { x: SCREEN_W - MAP_W - 16, y: SCREEN_H - MAP_H - 16, w: MAP_W, h: MAP_H,
                            path: :minimap }
  args.outputs.borders << { x: SCREEN_W - MAP_W - 16, y: SCREEN_H - MAP_H - 16, w: MAP_W, h: MAP_H,
                            r: 140, g: 150, b: 200 }
end

# Once a second, a line in the log.
def log_uptime args
  args.state.seconds ||= 0
  return unless Kernel.tick_count % 60 == 0

  args.state.seconds += 1
  puts "mygame has been running for #{args.state.seconds} s (tick #{Kernel.tick_count})"
end
