// Orbivue's sample object: a small watch tower with a different face on each
// side, on a paved square under a clear sky. The render script photographs it
// from 24 positions around it at three heights.
//
// Declared from the command line:
//   Angle  - camera position in degrees, going clockwise seen from above
//   Height - camera height above the ground
#version 3.7;

#ifndef (Angle) #declare Angle = 0; #end
#ifndef (Height) #declare Height = 1.6; #end

global_settings { assumed_gamma 1.0 }

#declare Distance = 11.5;
// Clockwise seen from above: from +x towards -z in this left-handed system.
camera {
    location <Distance * cos(radians(Angle)), Height, -Distance * sin(radians(Angle))>
    look_at <0, 2.7, 0>
    angle 48
    right x * 4 / 3
}

light_source { <-30, 50, -40> color rgb <1.0, 0.97, 0.9> * 1.3 }
light_source { <40, 30, 30> color rgb <0.35, 0.4, 0.5> shadowless }

sky_sphere {
    pigment {
        gradient y
        color_map { [0.0 color rgb <0.85, 0.9, 1.0>] [0.4 color rgb <0.35, 0.55, 0.9>] }
    }
}

// Paved square and meadow.
plane {
    y, 0
    texture {
        pigment {
            checker color rgb <0.62, 0.6, 0.55> color rgb <0.52, 0.5, 0.46>
            scale 0.75
        }
        finish { diffuse 0.8 }
    }
}
disc {
    <0, 0.001, 0>, y, 300, 6
    pigment { color rgb <0.3, 0.55, 0.2> }
}

#declare Wall = texture {
    pigment {
        brick color rgb <0.75, 0.72, 0.65> color rgb <0.86, 0.55, 0.4>
        brick_size <0.5, 0.2, 0.5> mortar 0.03
    }
    finish { diffuse 0.85 }
}

// The tower body: 2 x 2 wide, 4 high, centred on the y axis.
box { <-1, 0, -1>, <1, 4, 1> texture { Wall } }

// Roof.
cone {
    <0, 4, 0>, 1.6, <0, 6, 0>, 0
    pigment { color rgb <0.15, 0.3, 0.55> }
    finish { specular 0.3 }
}
torus { 1.25, 0.08 translate y * 4 pigment { color rgb <0.9, 0.85, 0.7> } }

// South face (-z): a red door with a lamp.
box { <-0.4, 0, -1.02>, <0.4, 1.5, -0.98> pigment { color rgb <0.7, 0.08, 0.06> } }
sphere { <0, 1.75, -1.05>, 0.1 pigment { color rgb <1, 0.9, 0.3> } finish { emission 0.6 } }

// East face (+x): three blue windows above each other.
#for (i, 0, 2)
    box {
        <0.98, 0.9 + i * 1.0, -0.3>, <1.02, 1.5 + i * 1.0, 0.3>
        pigment { color rgb <0.2, 0.4, 0.85> }
        finish { specular 0.6 reflection 0.1 }
    }
#end

// North face (+z): a clock.
cylinder { <0, 3.1, 1.0>, <0, 3.1, 1.05>, 0.55 pigment { color rgb <0.97, 0.97, 0.92> } }
box { <-0.03, 3.1, 1.05>, <0.03, 3.5, 1.07> pigment { color rgb 0.05 } }
box { <0, 3.07, 1.05>, <0.32, 3.13, 1.07> pigment { color rgb 0.05 } }

// West face (-x): green climbing stripes.
#for (i, 0, 4)
    box {
        <-1.03, 0, -0.8 + i * 0.38>, <-0.98, 2.2 + mod(i, 2) * 0.8, -0.65 + i * 0.38>
        pigment { color rgb <0.15, 0.5, 0.15> }
    }
#end

// A yellow bench south-east and a tree north-west, to see the way around.
box { <1.6, 0, -2.2>, <2.6, 0.45, -1.8> pigment { color rgb <0.95, 0.75, 0.1> } }
cylinder { <-2.6, 0, 2.4>, <-2.6, 1.4, 2.4>, 0.12 pigment { color rgb <0.4, 0.25, 0.1> } }
sphere { <-2.6, 2.0, 2.4>, 0.8 pigment { color rgb <0.1, 0.45, 0.12> } }
