# Bunnymark: N bunnies bounce with gravity inside the 1280x720 canvas and
# are moved in Ruby every tick. The global $bunnymark_mode picks how they
# are described to the outputs:
#
#   :hash        a Hash per bunny, pushed into args.outputs.sprites every tick
#   :hash_static the same Hashes, kept in args.outputs.static_sprites
#   :object      a Bunny object (attr_sprite) per bunny, pushed every tick
#   :array       an Array [x, y, w, h, path] per bunny, pushed every tick
#
# and $bunnymark_count how many there are (1000 and :hash when unset). The
# bench_outputs program sets both between runs; a change rebuilds the
# bunnies from the same seed, so every run of a mode and count moves the
# same bunnies. The image sprites/bunny.png is written by bench/bunnymark.py
# into the temporary copy it runs.

SCREEN_W = 1280
SCREEN_H = 720
BUNNY_W = 32
BUNNY_H = 32
MAX_X = SCREEN_W - BUNNY_W
MAX_Y = SCREEN_H - BUNNY_H
GRAVITY = 0.5
BUNNY_PATH = "sprites/bunny.png"

class Bunny
  # The sprite attributes (x, y, w, h, path, ...) as instance variables.
  include AttrSprite
  attr_accessor :dx, :dy

  def initialize x, y, dx, dy
    @x = x
    @y = y
    @w = BUNNY_W
    @h = BUNNY_H
    @path = BUNNY_PATH
    @dx = dx
    @dy = dy
  end
end

# One bunnymark run: the bunnies of one mode and count and their velocities.
class Bunnymark
  attr_reader :mode, :count

  def initialize mode, count
    @mode = mode
    @count = count
    @seed = 12345
    @bunnies = []
    @velocities = [] # :array only: dx, dy per bunny
    count.times { add_bunny }
  end

  # A fixed linear congruential sequence instead of rand, so that every run
  # starts from the same positions; answers a Float in [0, 1).
  def random
    @seed = (@seed * 1103515245 + 12345) % 2147483648
    @seed / 2147483648.0
  end

  def add_bunny
    x = random * MAX_X
    y = MAX_Y - random * 200
    dx = random * 10 - 5
    dy = random * 5
    case @mode
    when :object
      @bunnies << Bunny.new(x, y, dx, dy)
    when :array
      @bunnies << [x, y, BUNNY_W, BUNNY_H, BUNNY_PATH]
      @velocities << dx << dy
    else
      @bunnies << { x: x, y: y, w: BUNNY_W, h: BUNNY_H, path: BUNNY_PATH, dx: dx, dy: dy }
    end
  end

  def start args
    args.outputs.static_sprites.clear
    args.outputs.static_sprites.concat(@bunnies) if @mode == :hash_static
  end

  def tick args
    case @mode
    when :object then move_objects args.outputs.sprites
    when :array then move_arrays args.outputs.sprites
    when :hash_static then move_hashes nil
    else move_hashes args.outputs.sprites
    end
  end

  def move_hashes sprites
    @bunnies.each do |b|
      x = b[:x] + b[:dx]
      y = b[:y] + b[:dy]
      dy = b[:dy] - GRAVITY
      if x > MAX_X
        b[:dx] = -b[:dx]
        x = MAX_X
      elsif x < 0
        b[:dx] = -b[:dx]
        x = 0
      end
      if y < 0
        dy = -dy * 0.85
        dy += random * 6 if random > 0.5
        y = 0
      elsif y > MAX_Y
        dy = 0
        y = MAX_Y
      end
      b[:x] = x
      b[:y] = y
      b[:dy] = dy
      sprites << b if sprites
    end
  end

  def move_objects sprites
    @bunnies.each do |b|
      x = b.x + b.dx
      y = b.y + b.dy
      dy = b.dy - GRAVITY
      if x > MAX_X
        b.dx = -b.dx
        x = MAX_X
      elsif x < 0
        b.dx = -b.dx
        x = 0
      end
      if y < 0
        dy = -dy * 0.85
        dy += random * 6 if random > 0.5
        y = 0
      elsif y > MAX_Y
        dy = 0
        y = MAX_Y
      end
      b.x = x
      b.y = y
      b.dy = dy
      sprites << b
    end
  end

  def move_arrays sprites
    v = @velocities
    i = 0
    @bunnies.each do |b|
      dx = v[i]
      x = b[0] + dx
      y = b[1] + v[i + 1]
      dy = v[i + 1] - GRAVITY
      if x > MAX_X
        v[i] = -dx
        x = MAX_X
      elsif x < 0
        v[i] = -dx
        x = 0
      end
      if y < 0
        dy = -dy * 0.85
        dy += random * 6 if random > 0.5
        y = 0
      elsif y > MAX_Y
        dy = 0
        y = MAX_Y
      end
      b[0] = x
      b[1] = y
      v[i + 1] = dy
      i += 2
      sprites << b
    end
  end
end

def tick args
  mode = $bunnymark_mode || :hash
  count = $bunnymark_count || 1000
  mark = $bunnymark
  if !mark || mark.mode != mode || mark.count != count
    mark = $bunnymark = Bunnymark.new(mode, count)
    mark.start args
  end
  mark.tick args
end
